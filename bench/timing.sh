# Sourced by the benchmark scripts: timing with /usr/bin/time.
#   best CMD...   the best of three runs: "seconds peakMiB"
#   cpu CMD...    the least CPU time (user and system, children included) of
#                 three runs: seconds. On a machine shared with others' builds
#                 the wall times swing; the CPU a command needs swings less.
#   ratio A B     A / B with two decimals
TIMES=$(mktemp)
trap 'rm -f "$TIMES"' EXIT
best() {
  local b=999999 m=0
  for _ in 1 2 3; do
    local out
    /usr/bin/time -o "$TIMES" -f "%e %M" "$@" >/dev/null 2>&1 || true
    out=$(tail -1 "$TIMES")
    local t=${out% *} k=${out#* }
    if awk "BEGIN{exit !($t < $b)}"; then b=$t; m=$((k / 1024)); fi
  done
  echo "$b $m"
}
cpu() {
  local b=999999
  for _ in 1 2 3; do
    /usr/bin/time -o "$TIMES" -f "%U %S" "$@" >/dev/null 2>&1 || true
    local t
    t=$(tail -1 "$TIMES" | awk '{print $1 + $2}')
    if awk "BEGIN{exit !($t < $b)}"; then b=$t; fi
  done
  echo "$b"
}
ratio() { awk "BEGIN{printf \"%.2f\", $1 / ($2 > 0 ? $2 : 0.001)}"; }
