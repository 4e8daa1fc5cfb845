#!/usr/bin/env bash
# The first step: installs only what the velmora tool needs (a compiler,
# CMake, CLI11), builds the tool alone, writes three months of sample log,
# asks it a question in the plain options, shows its statistics and writes
# the activity report. Everything it writes stays in build-tool/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)

bash scripts/install-deps.sh --tool
cmake --preset tool >/dev/null
cmake --build --preset tool -j"$(nproc)" --target velmora >/dev/null

demo=build-tool/demo
mkdir -p "$demo"
log=$demo/events.log
report=$demo/report.html

# Echoes the command as it could be pasted into a shell: an argument holding
# a space or a shell character is single-quoted.
run() {
  local shown=() a special=$' \t\n\'"$`\\|&;<>()*?[]#~!{}'
  for a in "$@"; do
    [[ -z $a || $a == *["$special"]* ]] && a="'${a//\'/\'\\\'\'}'"
    shown+=("$a")
  done
  printf '\n$ %s\n' "${shown[*]}"
  "$@"
}

run build-tool/velmora sample "$log" --days 92 --per-day 2000 --seed 1
# Documents of two users over ten days: run mode, category and event in
# Russian, one line per user and event with the number of records.
run build-tool/velmora data "$log" --from 2005-01-10 --to 2005-01-20 \
  --user 'Иванова Н.П.' --user Бухгалтер --category Docs \
  --translate mode,category,event --group 'Пользователь, Действие' --order 'Пользователь, Чис desc' --format table
# The whole log: no --from or --to needed.
run build-tool/velmora stats "$log" --top 5 --format table
run build-tool/velmora report "$log" -o "$report"

printf '\nThe report is %s: open it in a browser (it needs no network). Done in %s s.\n' \
  "$(cd "$(dirname "$report")" && pwd)/$(basename "$report")" "$(($(date +%s) - start))"
printf 'To look through the log in a browser, run\n  build-tool/velmora serve %s\nand open the address it prints (Ctrl-C stops it).\n' "$log"
