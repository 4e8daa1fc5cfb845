#!/bin/bash
# velmora sql beside velmora data and rg -c on the same log, in one run:
# ratios, not absolute times. Usage: bench/sql_bench.sh [VELMORA] [LOG]
# (default: build/velmora and a sample log of 256 MiB made in build/).
set -euo pipefail
V=${1:-build/velmora}
LOG=${2:-build/sql-bench.log}
[ -f "$LOG" ] || "$V" sample "$LOG" --size 256M
USER_X="Петров А.С."
DAY=$("$V" sql "$LOG" "SELECT date FROM log WHERE pos = (SELECT max(pos) FROM log)" --format tsv | tail -1)
DAY=$(date -d "$DAY - 200 days" +%F)
. "$(dirname "$0")/timing.sh"
rows=$("$V" sql "$LOG" "SELECT count(*) FROM log" --format tsv | tail -1)
read -r rg _ < <(best rg -c "$USER_X" "$LOG")
read -r d1 _ < <(best "$V" data "$LOG" --user "$USER_X" --format csv)
read -r s1 _ < <(best "$V" sql "$LOG" "SELECT count(*) FROM log WHERE user = '$USER_X'" --format csv)
read -r d2 _ < <(best "$V" data "$LOG" --from "$DAY" --to "$DAY" --format csv)
read -r s2 _ < <(best "$V" sql "$LOG" "SELECT count(*) FROM log WHERE date BETWEEN '$DAY' AND '$DAY'" --format csv)
read -r s3 m3 < <(best "$V" sql "$LOG" "SELECT user, count(*) FROM log GROUP BY user" --format csv)
read -r s6 _ < <(best "$V" sql "$LOG" "SELECT user, count(*) FROM log GROUP BY user ORDER BY user" --format csv)
read -r s7 _ < <(best "$V" sql "$LOG" "SELECT user, count(*) FROM log GROUP BY user ORDER BY 2 DESC LIMIT 3" --format csv)
read -r s8 _ < <(best "$V" sql "$LOG" "SELECT pos FROM log ORDER BY pos" --format csv)
read -r s9 m9 < <(best "$V" sql "$LOG" "SELECT pos FROM log ORDER BY date, time" --format csv)
IN="'Петров А.С.','Бухгалтер','Кладовщик','Козлова','Сидоренко','Зайцев Д.','Кассир Зуева','Администратор','Иванова Н.П.','Смирнов В.В.'"
read -r s4 _ < <(best "$V" sql "$LOG" "SELECT count(*) FROM log WHERE user IN ($IN)" --format csv)
read -r s5 _ < <(best "$V" sql "$LOG" "SELECT count(*) FROM log WHERE user = 'Петров А.С.'" --format csv)
echo "log: $LOG, $rows records, $(($(stat -c %s "$LOG") / 1048576)) MiB; rg -c user: ${rg}s"
echo "count(*) WHERE user = X:        sql ${s1}s, data --user ${d1}s: ratio $(ratio "$s1" "$d1") (target <= 1.5)"
echo "count(*) WHERE date one day:    sql ${s2}s, data --from/--to ${d2}s: ratio $(ratio "$s2" "$d2") (target <= 2)"
echo "GROUP BY user:                  ${s3}s, $(awk "BEGIN{printf \"%.2f\", $rows / $s3 / 1e6}") M rows/s (target >= 3), peak ${m3} MiB (target <= 64)"
echo "IN of 10 users:                 ${s4}s, one user ${s5}s: ratio $(ratio "$s4" "$s5") (one pass reads the log once: near 1)"
echo "top users (ORDER BY 2 DESC LIMIT 3): ${s7}s, GROUP BY user ORDER BY user ${s6}s: ratio $(ratio "$s7" "$s6") (target <= 1.2)"
echo "ORDER BY date, time:            ${s9}s (peak ${m9} MiB), ORDER BY pos ${s8}s: ratio $(ratio "$s9" "$s8") (SQLite sorts; pos is free)"
