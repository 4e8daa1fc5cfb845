#!/bin/bash
# Several logs against the same records in one: the log cut into N parts
# (N = 2, 10, 100) at line ends, read as a folder, beside the whole log, in
# one run: ratios, not absolute times. Usage: bench/log_set_bench.sh
# [VELMORA] [LOG] (default: build/velmora and a sample log of 256 MiB made
# in build/; 256 MiB in all keeps the run short on a shared 2-core machine).
set -euo pipefail
V=${1:-build/velmora}
LOG=${2:-build/log-set-bench.log}
[ -f "$LOG" ] || "$V" sample "$LOG" --size 256M
USER_X="Петров А.С."
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
best() {  # the best of five runs: seconds, peak MiB and CPU seconds (user and system)
  local b=999999 m=0 c=999999
  for _ in 1 2 3 4 5; do
    /usr/bin/time -o "$TMP/time" -f "%e %M %U %S" "$@" >/dev/null 2>&1 || true
    local t k u s
    read -r t k u s < <(tail -1 "$TMP/time")
    if awk "BEGIN{exit !($t < $b)}"; then b=$t; m=$((k / 1024)); fi
    local cpu
    cpu=$(awk "BEGIN{print $u + $s}")
    if awk "BEGIN{exit !($cpu < $c)}"; then c=$cpu; fi
  done
  echo "$b $m $c"
}
ratio() { awk "BEGIN{printf \"%.2f\", $1 / ($2 > 0 ? $2 : 0.001)}"; }
echo "log: $LOG, $(($(stat -c %s "$LOG") / 1048576)) MiB"
for n in 2 10 100; do
  rm -rf "$TMP/parts" && mkdir "$TMP/parts"
  split -n "l/$n" -d -a 3 "$LOG" "$TMP/parts/part"
  # The yardstick again beside each N: the machine's load drifts.
  read -r d1 dm1 dc1 < <(best "$V" data "$LOG" --user "$USER_X" --format csv)
  read -r s1 sm1 sc1 < <(best "$V" stats "$LOG" --format csv)
  read -r q1 qm1 qc1 < <(best "$V" sql "$LOG" "SELECT user, count(*) FROM log GROUP BY user" --format csv)
  echo "one log: data --user ${d1}s (cpu ${dc1}s, ${dm1} MiB), stats ${s1}s (cpu ${sc1}s, ${sm1} MiB)," \
       "sql GROUP BY user ${q1}s (cpu ${qc1}s, ${qm1} MiB)"
  read -r d dm dc < <(best "$V" data "$TMP/parts" --user "$USER_X" --format csv)
  read -r s sm sc < <(best "$V" stats "$TMP/parts" --format csv)
  read -r q qm qc < <(best "$V" sql "$TMP/parts" "SELECT user, count(*) FROM log GROUP BY user" --format csv)
  echo "$n logs: data --user ${d}s ($(ratio "$d" "$d1")x, cpu $(ratio "$dc" "$dc1")x, ${dm} MiB)," \
       "stats ${s}s ($(ratio "$s" "$s1")x, cpu $(ratio "$sc" "$sc1")x, ${sm} MiB)," \
       "sql GROUP BY user ${q}s ($(ratio "$q" "$q1")x, cpu $(ratio "$qc" "$qc1")x, ${qm} MiB) (target <= 1.1x)"
done
