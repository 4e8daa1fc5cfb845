#!/usr/bin/env bash
# Every test: native (with sanitizers), the Windows builds under Wine.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

bash scripts/install-deps.sh

# Wine, the sanitizers and the fuzzers all want more open files than a low
# default limit gives.
. scripts/file-limit.sh
velmora_raise_file_limit

step() { printf '\n==== %s (at %d s)\n' "$*" "$SECONDS"; }

# Runs ctest, keeping its summary for the closing line.
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
run_ctest() { ctest "$@" 2>&1 | tee -a "$summary"; }

step "native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
run_ctest --preset native -j"$jobs"

step "32-bit Windows build (the deliverables)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs"
bash scripts/check-pe.sh build-win32

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  step "32-bit Windows tests under Wine"
  run_ctest --preset win32
else
  # This machine's kernel runs no 32-bit code, so 32-bit Wine cannot start;
  # the same sources built for x86-64 run the same tests under 64-bit Wine.
  step "64-bit Windows build of the same sources, tests under Wine (no 32-bit code runs here)"
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 -j"$jobs"
  # Said here too: CTest shows no output of a skipped test.
  velmora_file_limit_too_low || true
  run_ctest --preset win64
fi

if [ -f scripts/test-hardening.sh ]; then
  step "sanitizers and bounded fuzzing"
  # Its ctest summary goes into the closing line's count too.
  bash scripts/test-hardening.sh 2>&1 | tee -a "$summary"
fi

# Skipped tests are counted apart, not as passed.
echo
echo "time: $SECONDS s in all"
read -r total failed skipped < <(
  awk '/^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+$/ { total += $NF; failed += $4 }
       /^[ \t]+[0-9]+ - .* \(Skipped\)$/ { skipped++ }
       END { print total + 0, failed + 0, skipped + 0 }' "$summary")
echo
if [ "$skipped" -gt 0 ]; then
  echo "all: $((total - failed - skipped)) passed, $failed failed, $skipped skipped"
else
  echo "all: $((total - failed)) passed, $failed failed"
fi
