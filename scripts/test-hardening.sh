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
cmake --build --preset fuzz -j"$jobs"
total=0
for exe in build-fuzz/fuzz/*_fuzz; do
  name=$(basename "$exe")
  seeds=fuzz/corpus/${name%_fuzz}
  work=build-fuzz/corpus/${name%_fuzz}
  mkdir -p "$work"
  log=build-fuzz/$name.log
  if ! "$exe" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 "$work" "$seeds" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "FUZZ FAILED: $name" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  total=$((total + ${runs:-0}))
  printf '%-28s %10s executions, no fault\n' "$name" "${runs:-?}"
done
echo "fuzzing: $total executions in all"
