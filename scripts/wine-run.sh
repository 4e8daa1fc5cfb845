#!/usr/bin/env bash
# Runs a Windows program of the project's own under Wine, in a prefix kept
# inside the build tree.
#   wine-run.sh PREFIX ARCH init            create the prefix afresh
#   wine-run.sh PREFIX ARCH run EXE [ARGS]  run EXE in it
# ARCH is win32 or win64. A win32 prefix needs a machine that runs 32-bit
# code; where the kernel refuses it, the run exits 77 (CTest: skipped).
set -u
prefix=$1 arch=$2 action=$3
shift 3

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
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

case "$action" in
  init)
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    timeout 300 "$wine" wineboot -i >/dev/null 2>&1
    rc=$?
    timeout 60 wineserver -w 2>/dev/null
    [ $rc -eq 0 ] || { echo "wineboot failed ($rc)" >&2; exit 1; }
    ;;
  run)
    exe=$1
    shift
    "$wine" "$exe" "$@"
    ;;
  *)
    echo "unknown action $action" >&2
    exit 2
    ;;
esac
