# Sourced by the scripts that start Wine.
#
# Wine keeps many descriptors open: the server one or more for each thread of
# each program, and each program its own. Under a low open-files limit
# wineboot fails with STATUS_DLL_NOT_FOUND (exit 53) or hangs, and every
# Windows test after it fails for a reason that is not the project's.

# Measured: the Windows tests pass at 256 and fail at 200.
velmora_wine_min_files=256

# Raises the soft open-files limit to 8192, or to the hard limit where that
# is lower; the hard limit too where this user may raise it.
velmora_raise_file_limit() {
  local want=8192 soft hard
  soft=$(ulimit -Sn)
  [ "$soft" = unlimited ] || [ "$soft" -ge $want ] && return 0
  hard=$(ulimit -Hn)
  if [ "$hard" != unlimited ] && [ "$hard" -lt $want ]; then
    ulimit -Hn $want 2>/dev/null && hard=$want
  fi
  if [ "$hard" = unlimited ] || [ "$hard" -ge $want ]; then
    ulimit -Sn $want
  else
    ulimit -Sn "$hard"
  fi
}

# Closes every descriptor above standard error that the caller let this shell
# inherit: each counts against the limit in Wine's programs and its server.
# 255 is the shell's own, the script it reads.
velmora_close_inherited_files() {
  local fd n
  for fd in /proc/$$/fd/*; do
    n=${fd##*/}
    [ "$n" -gt 2 ] 2>/dev/null && [ "$n" -ne 255 ] && eval "exec $n>&-" 2>/dev/null
  done
  return 0
}

# Succeeds, saying why on standard error, when Wine cannot run under this
# shell's limit even after velmora_raise_file_limit.
velmora_file_limit_too_low() {
  local soft
  soft=$(ulimit -Sn)
  [ "$soft" != unlimited ] && [ "$soft" -lt $velmora_wine_min_files ] || return 1
  echo "skipped: the open-files limit here is $soft (hard $(ulimit -Hn)), and Wine needs at least $velmora_wine_min_files; this user may not raise it" >&2
  return 0
}
