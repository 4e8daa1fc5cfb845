#!/bin/bash
# The viewer over several logs against the same records in one: the log cut
# into N parts at line ends (N = 10, 100) and served as a folder, beside the
# whole log served, in one run. Each request is timed by curl, the best of
# three; ratios, not absolute times. Usage: bench/serve_set_bench.sh
# [VELMORA] [LOG] (default: build/velmora and a 256 MiB sample log in build/).
set -euo pipefail
V=${1:-build/velmora}
LOG=${2:-build/log-set-bench.log}
[ -f "$LOG" ] || "$V" sample "$LOG" --size 256M
. "$(dirname "$0")/timing.sh"
. "$(dirname "$0")/serving.sh"
# A record half way into the log, for a page deep in it: its date and time.
mid=$("$V" data "$LOG" --resume $(( $(stat -c %s "$LOG") / 2 )) --columns date,time --format csv 2>/dev/null | sed -n 2p)
from="${mid:0:4}-${mid:4:2}-${mid:6:2}T${mid:9:8}"
position() {  # URL: the position of the first record from $from
  local base=${1%%/\?token=*} token=${1##*token=}
  curl -s -H "Authorization: Bearer $token" "$base/api/records?dir=forward&limit=1&columns=date&from=$from" |
    sed -n 's/.*"pos":"\{0,1\}\([0-9:]*\).*/\1/p'
}
echo "log: $LOG, $(($(stat -c %s "$LOG") / 1048576)) MiB"
serve one "$LOG"
for n in 10 100; do
  rm -rf "$TMP/parts" && mkdir "$TMP/parts"
  split -n "l/$n" -d -a 3 "$LOG" "$TMP/parts/part"
  serve "set$n" "$TMP/parts"
  eval "set=\$url_set$n"
  for q in "first screen|/api/records?limit=200" \
           "a page half way back|/api/records?limit=200&pos=POS" \
           "one user, first screen|/api/records?limit=200&user=%D0%9F%D0%B5%D1%82%D1%80%D0%BE%D0%B2%20%D0%90.%D0%A1." \
           "histogram|/api/histogram" "users|/api/users"; do
    name=${q%%|*} path=${q#*|}
    a=$(ask "$url_one" "${path/POS/$(position "$url_one")}")
    b=$(ask "$set" "${path/POS/$(position "$set")}")
    echo "$n logs: $name ${b} ms against ${a} ms in one log ($(ratio "$b" "$a")x)"
  done
done
