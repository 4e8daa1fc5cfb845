# Sourced by the benchmark scripts after timing.sh: velmora serve started
# in the background (stopped at exit) and requests timed by curl.
#   serve NAME LOG...   starts velmora serve on the logs; sets url_NAME
#   ask URL PATH        the best of three times of a request, in ms
#   once URL PATH       one request's time in ms; its body in $TMP/body
TMP=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$TMP" "$TIMES"' EXIT
serve() {
  local name=$1
  shift
  "$V" serve "$@" >"$TMP/$name.out" 2>&1 &
  pids+=($!)
  local deadline=$((SECONDS + 60))
  until grep -q ' at http://' "$TMP/$name.out"; do
    [ $SECONDS -lt $deadline ] || { echo "velmora serve did not start: $(cat "$TMP/$name.out")" >&2; exit 1; }
    sleep 0.1
  done
  eval "url_$name=\$(sed -n 's/.* at \(http:[^ ]*\)$/\1/p' $TMP/$name.out)"
}
once() {
  local base=${1%%/\?token=*} token=${1##*token=} t
  t=$(curl -s -o "$TMP/body" -w '%{time_total}' -H "Authorization: Bearer $token" "$base$2")
  awk "BEGIN{print $t * 1000}"
}
ask() {
  local b=999999
  for _ in 1 2 3; do
    local t
    t=$(once "$1" "$2")
    b=$(awk "BEGIN{print ($t < $b) ? $t : $b}")
  done
  echo "$b"
}
