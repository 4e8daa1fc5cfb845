#!/usr/bin/env bash
# The main job in one go: installs what the build needs, builds the native
# tool, writes a month of sample log and asks it who did what with documents,
# in Russian, with counts.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target velmora >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log="$work/events.log"

run() {
  printf '\n$ %s\n' "$*"
  "$@"
}

run build/velmora sample "$log" --days 31 --per-day 2000 --seed 1
# Documents of two users over ten days: run mode, category and event code in
# Russian, one line per user and event with the number of records.
run build/velmora data "$log" --from 2005-01-10 --to 2005-01-20 \
  --filter 'FilterUsers=|Иванова Н.П.|Бухгалтер|' --filter 'FilterTypeObj=|Docs|' \
  --translate 0111 --group 'Пользователь, Действие' --order 'Пользователь, Чис desc' --format table
