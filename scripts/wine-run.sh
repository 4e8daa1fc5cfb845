#!/usr/bin/env bash
# Runs a Windows program of the project's own under Wine, in a prefix kept
# inside the build tree.
#   wine-run.sh PREFIX ARCH init            create the prefix afresh
#   wine-run.sh PREFIX ARCH run EXE [ARGS]  run EXE in it
# ARCH is win32 or win64. A win32 prefix needs a machine that runs 32-bit
# code; where the kernel refuses it, the run exits 77 (CTest: skipped). So
# does every run where the open-files limit is too low for Wine and may not
# be raised.
#
# Environment of a run:
#   VELMORA_WINE_DISPLAY  inherit (default): whatever display the caller has;
#                         xvfb: a private virtual X display for this run only;
#                         none: no display at all.
#   VELMORA_WINE_TIMEOUT  seconds the program may take (default 540). Past it
#                         the program is killed with every Wine process of
#                         the prefix, so a hung program cannot stall the runs
#                         after it.
set -u
prefix=$1 arch=$2 action=$3
shift 3

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}
# LC_ALL (LANG alone is not enough) gives Wine the ANSI code page 1251.
export LC_ALL=ru_RU.UTF-8

if [ "$arch" = win32 ]; then
  export WINEARCH=win32
  wine=wine
  if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "skipped: this machine runs no 32-bit code (its kernel refuses i386 programs); the win64 preset tests the same sources" >&2
    exit 77
  fi
else
  export WINEARCH=win64
  wine=/usr/lib/wine/wine64
fi

. "$(dirname "$0")/file-limit.sh"
velmora_close_inherited_files
velmora_raise_file_limit
velmora_file_limit_too_low && exit 77

display=${VELMORA_WINE_DISPLAY:-inherit}
limit=${VELMORA_WINE_TIMEOUT:-540}

# A wineserver outlives its last program by a few seconds, and the programs it
# serves draw on the display it was started with; a run that chooses its own
# display waits for the previous server to go, and for its own before its
# display goes away.
await_server() { timeout 60 wineserver -w 2>/dev/null; }

# Runs the program bounded in time; on a timeout kills what is left of it.
run_bounded() {
  timeout --kill-after=10 "$limit" "$@"
  local rc=$?
  if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
    echo "timed out after ${limit}s: $*" >&2
    wineserver -k 2>/dev/null
  fi
  return $rc
}

case "$action" in
  init)
    mkdir -p "$(dirname "$prefix")"
    log=$prefix.log
    # A second try after a failed first one, with any server of the prefix
    # gone, so that a passing fault does not cost every Windows test.
    for try in 1 2; do
      rm -rf "$prefix"
      WINEDEBUG=${VELMORA_WINE_INIT_DEBUG:-err+all,fixme-all} timeout 300 "$wine" wineboot -i >"$log" 2>&1
      rc=$?
      timeout 60 wineserver -w 2>/dev/null
      [ $rc -eq 0 ] && exit 0
      echo "wineboot failed ($rc), try $try of 2" >&2
      wineserver -k 2>/dev/null
      sleep 1
    done
    # What tells why: Wine's own errors, and the limits it ran under.
    echo "--- the last errors Wine printed ($log):" >&2
    grep -v -e ':fixme:' -e 'nodrv_CreateWindow' "$log" | tail -n 25 >&2
    echo "--- open files $(ulimit -Sn)/$(ulimit -Hn), processes $(ulimit -u), address space $(ulimit -v)" >&2
    echo "--- $(uname -srm); prefix on: $(df -PT "$(dirname "$prefix")" | awk 'NR==2 {print $2, $7}')" >&2
    exit 1
    ;;
  run)
    exe=$1
    shift
    case "$display" in
      inherit)
        run_bounded "$wine" "$exe" "$@"
        ;;
      none)
        unset DISPLAY WAYLAND_DISPLAY
        await_server
        run_bounded "$wine" "$exe" "$@"
        rc=$?
        await_server
        exit $rc
        ;;
      xvfb)
        command -v Xvfb >/dev/null || { echo "Xvfb is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
        unset WAYLAND_DISPLAY
        await_server
        xdir=$(mktemp -d)
        # -displayfd: the X server takes a free display number itself and
        # writes it once it accepts clients, so runs side by side cannot
        # collide on a number.
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$xdir/display" 2>"$xdir/log" &
        xvfb=$!
        trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; rm -rf "$xdir"' EXIT
        for _ in $(seq 200); do
          [ "$(wc -l <"$xdir/display")" -ge 1 ] && break
          kill -0 $xvfb 2>/dev/null || break
          sleep 0.05
        done
        if [ "$(wc -l <"$xdir/display")" -lt 1 ]; then
          echo "Xvfb did not start:" >&2
          cat "$xdir/log" >&2
          exit 1
        fi
        export DISPLAY=:$(head -n 1 "$xdir/display")
        run_bounded "$wine" "$exe" "$@"
        rc=$?
        # The server's programs go before their display does.
        await_server
        exit $rc
        ;;
      *)
        echo "unknown VELMORA_WINE_DISPLAY=$display (inherit, xvfb or none)" >&2
        exit 2
        ;;
    esac
    ;;
  *)
    echo "unknown action $action" >&2
    exit 2
    ;;
esac
