# Sourced by the benchmark scripts: timing with /usr/bin/time.
#   best CMD...   the best of three runs: "seconds peakMiB"
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
ratio() { awk "BEGIN{printf \"%.2f\", $1 / ($2 > 0 ? $2 : 0.001)}"; }
