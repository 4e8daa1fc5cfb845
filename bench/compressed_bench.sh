#!/bin/bash
# velmora on compressed logs beside the formats' own decoders, in one run:
# ratios, not absolute times. `velmora stats` and `velmora data` with a
# users filter (to /dev/null) on a gzip log against `gzip -dc LOG | wc -l`,
# and on a zstd log against `zstd -dc LOG | wc -l`; the plain log's stats
# beside them, and the CPU time that stats and the yardsticks take (on a
# shared machine the wall times swing with others' load); then the viewer's
# pages on the gzip log. Usage:
# bench/compressed_bench.sh [VELMORA] [LOG] [OLD_VELMORA]
# (default: build/velmora and a sample log of 256 MiB made in build/; its
# .gz and .zst copies are made beside it once; an older build given third
# is timed in the same run for its stats).
set -euo pipefail
V=${1:-build/velmora}
LOG=${2:-build/compressed-bench.log}
OLD=${3:-}
[ -f "$LOG" ] || "$V" sample "$LOG" --size 256M >/dev/null 2>&1
[ -f "$LOG.gz" ] || gzip -kf "$LOG"
[ -f "$LOG.zst" ] || zstd -qf "$LOG" -o "$LOG.zst"
USER_X="Кладовщик"
. "$(dirname "$0")/timing.sh"
# The answers first: the compressed logs must give the plain log's.
plain=$("$V" stats "$LOG" --format csv | md5sum)
for f in "$LOG.gz" "$LOG.zst"; do
  [ "$("$V" stats "$f" --format csv | md5sum)" = "$plain" ] || { echo "compressed_bench: $f gives other stats" >&2; exit 1; }
done
read -r gz _ < <(best sh -c 'gzip -dc "$0" | wc -l' "$LOG.gz")
read -r zs _ < <(best sh -c 'zstd -dc "$0" | wc -l' "$LOG.zst")
read -r sp mp < <(best "$V" stats "$LOG" --format csv)
read -r sg mg < <(best "$V" stats "$LOG.gz" --format csv)
read -r sz mz < <(best "$V" stats "$LOG.zst" --format csv)
read -r dg ng < <(best "$V" data "$LOG.gz" --user "$USER_X" --format csv)
read -r dz nz < <(best "$V" data "$LOG.zst" --user "$USER_X" --format csv)
echo "log: $LOG, $(($(stat -c %s "$LOG") / 1048576)) MiB; gzip $(($(stat -c %s "$LOG.gz") / 1048576)) MiB, zstd $(($(stat -c %s "$LOG.zst") / 1048576)) MiB; load $(cut -d' ' -f1 /proc/loadavg)"
echo "yardsticks: gzip -dc | wc -l ${gz}s, zstd -dc | wc -l ${zs}s; plain stats ${sp}s (peak ${mp} MiB)"
echo "stats gzip:        ${sg}s, peak ${mg} MiB: ratio $(ratio "$sg" "$gz") (target <= 1.2, peak <= 64)"
echo "data --user gzip:  ${dg}s, peak ${ng} MiB: ratio $(ratio "$dg" "$gz") (target <= 1.2, peak <= 64)"
echo "stats zstd:        ${sz}s, peak ${mz} MiB: ratio $(ratio "$sz" "$zs") (target <= 1.2, peak <= 64)"
echo "data --user zstd:  ${dz}s, peak ${nz} MiB: ratio $(ratio "$dz" "$zs") (target <= 1.2, peak <= 64)"
read -r cz < <(cpu sh -c 'zstd -dc "$0" | wc -l' "$LOG.zst")
read -r cg < <(cpu sh -c 'gzip -dc "$0" | wc -l' "$LOG.gz")
read -r csz < <(cpu "$V" stats "$LOG.zst" --format csv)
read -r csg < <(cpu "$V" stats "$LOG.gz" --format csv)
read -r csp < <(cpu "$V" stats "$LOG" --format csv)
echo "CPU seconds: zstd -dc | wc -l ${cz}, stats zstd ${csz} (ratio $(ratio "$csz" "$cz")); gzip -dc | wc -l ${cg}, stats gzip ${csg} (ratio $(ratio "$csg" "$cg")); plain stats ${csp}"
# The viewer on the gzip log: the first screen decodes all of it (the
# yardstick's work); the pages back from there, and a page half way back
# and the one before it, should cost a small part of that, not as much.
. "$(dirname "$0")/serving.sh"
serve gz "$LOG.gz"
first=$(once "$url_gz" "/api/records?limit=200")
back=0
for _ in 1 2 3 4 5 6 7 8 9 10; do
  next=$(sed -n 's/.*"next":\([0-9]*\).*/\1/p' "$TMP/body")
  t=$(once "$url_gz" "/api/records?limit=200&pos=$next")
  back=$(awk "BEGIN{print $back + $t / 10}")
done
half=$(once "$url_gz" "/api/records?limit=200&pos=$(($(stat -c %s "$LOG") / 2))")
next=$(sed -n 's/.*"next":\([0-9]*\).*/\1/p' "$TMP/body")
before=$(once "$url_gz" "/api/records?limit=200&pos=$next")
echo "viewer, gzip: first screen ${first} ms ($(ratio "$first" "$(awk "BEGIN{print $gz * 1000}")") of gzip -dc | wc -l), a page back ${back} ms (mean of 10), a page half way ${half} ms, the page before it ${before} ms"
if [ -n "$OLD" ]; then
  read -r oz mo < <(best "$OLD" stats "$LOG.zst" --format csv)
  read -r op mq < <(best "$OLD" stats "$LOG" --format csv)
  read -r coz < <(cpu "$OLD" stats "$LOG.zst" --format csv)
  read -r cop < <(cpu "$OLD" stats "$LOG" --format csv)
  echo "older build: stats zstd ${oz}s, peak ${mo} MiB, CPU ${coz}s; plain stats ${op}s, peak ${mq} MiB, CPU ${cop}s"
fi
