#!/usr/bin/env bash
# The native tests under AddressSanitizer and UndefinedBehaviorSanitizer, then
# every fuzz target for a bounded time from the seed corpus in fuzz/corpus.
# FUZZ_SECONDS sets the time per target (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
seconds=${FUZZ_SECONDS:-30}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
ctest --preset asan -j"$jobs"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzzers -j"$jobs"
# One target a core at once: the same time each, half the wall time on two.
fuzz_one() {
  local exe=$1 name seeds work
  name=$(basename "$exe")
  seeds=fuzz/corpus/${name%_fuzz}
  work=build-fuzz/corpus/${name%_fuzz}
  mkdir -p "$work"
  "$exe" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "$work" "$seeds" >"build-fuzz/$name.log" 2>&1
}
pids=() names=()
for exe in build-fuzz/fuzz/*_fuzz; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  fuzz_one "$exe" &
  pids+=($!) names+=("$(basename "$exe")")
done
total=0 failed=0
for i in "${!pids[@]}"; do
  name=${names[$i]}
  log=build-fuzz/$name.log
  if ! wait "${pids[$i]}"; then
    tail -n 60 "$log"
    echo "FUZZ FAILED: $name" >&2
    failed=1
    continue
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  total=$((total + ${runs:-0}))
  printf '%-28s %10s executions, no fault\n' "$name" "${runs:-?}"
done
[ "$failed" -eq 0 ] || exit 1
echo "fuzzing: $total executions in all"
