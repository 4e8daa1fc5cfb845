#!/usr/bin/env bash
# The add-in under Wine beside the native tool, on the same log in one run:
# GetData through COM (bench/addin_bench.cpp, --log) against `velmora data`
# of the native build for the same query, with `wc -l` and `rg -c` as
# yardsticks; then the system calls of one rejecting scan of each under
# `strace -c -f`. Prints figures and ratios; not a test.
#
#   bench/addin_bench.sh WINBUILD [MiB [turns]]
#
# WINBUILD is build-win32 (32-bit Wine, where the machine runs 32-bit code)
# or build-win64 (64-bit Wine). The native tool is build/velmora; the log
# is bench/data/journal-MiBm.log (made by the native benchmarks' generator:
# run ./build/bench/tool_bench MiB once first).
set -euo pipefail
cd "$(dirname "$0")/.."
win=${1:?usage: bench/addin_bench.sh build-win32|build-win64 [MiB [turns]]}
mib=${2:-256}
turns=${3:-3}
arch=win64
case $win in *win32*) arch=win32 ;; esac
log=$PWD/bench/data/journal-${mib}m.log
native=$PWD/build/velmora
exe=$PWD/$win/tests/wine/addin/addin_bench.exe
prefix=$PWD/$win/wineprefix
[ -f "$log" ] || { echo "no $log: run ./build/bench/tool_bench $mib once first" >&2; exit 2; }
[ -x "$native" ] && [ -f "$exe" ] || { echo "build velmora (native) and addin_bench ($win) first" >&2; exit 2; }
[ -d "$prefix" ] || scripts/wine-run.sh "$prefix" "$arch" init
winlog="Z:${log//\//\\}"

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
seconds() {  # runs the command turns times, output dropped; prints the median wall time
  for _ in $(seq "$turns"); do
    local s e
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    e=$(date +%s.%N)
    echo "$e - $s" | bc
  done | median
}
period=(--from 20050101 --to 20251231 --format csv)

echo "log: $(basename "$log"), $(stat -c %s "$log") bytes; $turns turns; $arch Wine ($win)"
wc_s=$(seconds wc -l "$log")
rg_s=$(seconds rg -c ';Кладовщик;' "$log")
n_reject_lat=$(seconds "$native" data "$log" "${period[@]}" --filter 'FilterUsers=|Nobody|')
n_reject_cyr=$(seconds "$native" data "$log" "${period[@]}" --filter 'FilterUsers=|Никто|')
n_user=$(seconds "$native" data "$log" "${period[@]}" --filter 'FilterUsers=|Кладовщик|')
n_grouped=$(seconds "$native" data "$log" "${period[@]}" --filter 'FilterUsers=|Кладовщик|' --group Пользователь)
n_all=$(seconds "$native" data "$log" "${period[@]}")
out=$(VELMORA_WINE_TIMEOUT=1800 scripts/wine-run.sh "$prefix" "$arch" run "$exe" --log "$winlog" "$turns" | tr -d '\r')
# The 32-bit tool itself, once, Wine's start included.
tool_exe=$PWD/$win/velmora.exe
s=$(date +%s.%N)
scripts/wine-run.sh "$prefix" "$arch" run "$tool_exe" data "$winlog" "${period[@]}" --filter 'FilterUsers=|Кладовщик|' >/dev/null 2>&1 || true
e=$(date +%s.%N)
tool_user=$(echo "$e - $s" | bc)

get() { awk -F'\t' -v q="$1" '$1 == q {print $2}' <<<"$out"; }
rows() { awk -F'\t' -v q="$1" '$1 == q {print $3}' <<<"$out"; }
ratio() { echo "scale=2; $1 / $2" | bc; }
printf '\n| query | add-in GetData (%s) | rows | native velmora | ratio | target |\n|---|---|---|---|---|---|\n' "$arch"
t15=1.5; t2=2
[ "$arch" = win64 ] && t15=2
row() { printf '| %s | %.3f s | %s | %.3f s | **%sx** | %s |\n' "$1" "$2" "$3" "$4" "$(ratio "$2" "$4")" "$5"; }
row "users filter rejecting all, Latin" "$(get reject-latin)" "$(rows reject-latin)" "$n_reject_lat" "at most ${t15}x"
row "users filter rejecting all, Cyrillic" "$(get reject-cyrillic)" "$(rows reject-cyrillic)" "$n_reject_cyr" "at most ${t15}x"
row "one user, do-nothing host (native: csv)" "$(get one-user-null)" "$(rows one-user-null)" "$n_user" "at most 4x"
row "one user, storing host (native: csv)" "$(get one-user-store)" "$(rows one-user-store)" "$n_user" "-"
row "one user grouped, storing host (native: --group)" "$(get one-user-grouped)" "$(rows one-user-grouped)" "$n_grouped" "-"
row "whole log, do-nothing host (native: csv)" "$(get all-null)" "$(rows all-null)" "$n_all" "-"
row "velmora.exe, one user csv (Wine's start included, once)" "$tool_user" "-" "$n_user" "at most 4x"
printf '| yardsticks | `wc -l` %.3f s, `rg -c` %.3f s | | | rejecting native / wc -l: %sx | |\n' "$wc_s" "$rg_s" "$(ratio "$n_reject_cyr" "$wc_s")"

if command -v strace >/dev/null; then
  trace=$(mktemp)
  strace -c -f -o "$trace" "$native" data "$log" "${period[@]}" --filter 'FilterUsers=|Никто|' >/dev/null 2>&1 || true
  printf '\nnative rejecting scan: %s system calls, of them %s reads\n' \
    "$(awk '$NF == "total" {n += $4} END {print n + 0}' "$trace")" "$(awk '$NF ~ /^(pread64|read)$/ {n += $4} END {print n + 0}' "$trace")"
  strace -c -f -o "$trace" scripts/wine-run.sh "$prefix" "$arch" run "$tool_exe" data "$winlog" "${period[@]}" \
    --filter 'FilterUsers=|Никто|' >/dev/null 2>&1 || true
  printf 'velmora.exe rejecting scan under Wine (its start included): %s system calls, of them %s reads\n' \
    "$(awk '$NF == "total" {n += $4} END {print n + 0}' "$trace")" "$(awk '$NF ~ /^(pread64|read)$/ {n += $4} END {print n + 0}' "$trace")"
  rm -f "$trace"
fi
