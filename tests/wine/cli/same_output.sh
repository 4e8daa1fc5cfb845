#!/usr/bin/env bash
# velmora.exe under Wine against the native velmora: the same sample log and
# the same arguments must give the same bytes on standard output and the
# same exit code.
#   same_output.sh NATIVE_TOOL WINE_RUN PREFIX ARCH EXE [sql|nosql] [serve|noserve]
# nosql: EXE was built without SQLite and must say so for sql. serve: the
# viewer's server too, both serving the log and asked the same questions
# over loopback, must give the same answers; noserve: EXE must say it has
# no viewer.
# Exits 77 (skipped) only where Wine itself cannot run, as the harness says.
set -u
native=$1 wine_run=$2 prefix=$3 arch=$4 exe=$5 sql=${6:-sql} serve=${7:-noserve}

if [ ! -x "$native" ]; then
  echo "FAIL: the native tool $native is missing: build the native preset first" \
       "(cmake --preset native && cmake --build --preset native; scripts/test-all.sh does)" >&2
  exit 1
fi
if [ ! -f "$exe" ]; then
  echo "FAIL: $exe is missing" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
"$native" sample events.log --days 20 --per-day 300 --seed 4 2>/dev/null || { echo "FAIL: velmora sample" >&2; exit 1; }

passed=0 failed=0
same() {
  "$native" "$@" >native.out 2>native.err
  local native_rc=$?
  "$wine_run" "$prefix" "$arch" run "$exe" "$@" >wine.out 2>wine.err
  local wine_rc=$?
  if [ $wine_rc -eq 77 ]; then
    cat wine.err >&2
    exit 77
  fi
  if [ $native_rc -ne $wine_rc ] || ! cmp -s native.out wine.out; then
    failed=$((failed + 1))
    echo "FAIL: velmora $*: exit $native_rc natively, $wine_rc under Wine;" \
         "$(wc -c <native.out) and $(wc -c <wine.out) bytes of output" >&2
    cmp native.out wine.out >&2
    echo "--- Wine's standard error:" >&2
    head -n 5 wine.err >&2
    return
  fi
  if [ ! -s native.out ]; then
    failed=$((failed + 1))
    echo "FAIL: velmora $* printed nothing to compare" >&2
    return
  fi
  passed=$((passed + 1))
  echo "same: velmora $* ($(wc -c <native.out) bytes)"
}

same data events.log --format csv
same data events.log --format csv --from 2005-01-05 --to 2005-01-09T12:00:00 --user Бухгалтер --user 'Иванова Н.П.' \
  --not-event DocOpen --translate all
same data events.log --format csv --filter 'ФильтерКомментария=|ошибка|' --columns 'Дата,Пользователь,Комментарий'
same data events.log --format csv --translate event --group 'Пользователь, Действие' --order 'Чис desc, Действие'
same users events.log
same users events.log --format csv
same stats events.log --format csv --by day
if [ "$sql" = sql ]; then
  # Push-down (dates checked per record, a Cyrillic LIKE, an IN list) and SQLite's own work
  # (grouping, sorting) alike.
  same sql events.log --format csv "SELECT user, event_text, count(*) AS n FROM log
    WHERE date BETWEEN '2005-01-05' AND '2005-01-09' AND user LIKE '%ова%' GROUP BY 1, 2 ORDER BY 3 DESC, 1, 2"
  same sql events.log --format jsonl "SELECT pos, time, comment, is_error FROM log
    WHERE event IN ('DocWrite', 'DocPost') AND number = '5' OR comment LIKE '%Ошибка%' ORDER BY pos LIMIT 50"
else
  "$wine_run" "$prefix" "$arch" run "$exe" sql events.log "SELECT 1" >wine.out 2>wine.err
  if [ $? -eq 3 ] && grep -q 'this build has no SQL' wine.err; then
    passed=$((passed + 1))
    echo "said: velmora.exe has no SQL"
  else
    failed=$((failed + 1))
    echo "FAIL: velmora.exe built without SQLite did not say so" >&2
  fi
fi

# velmora serve LOG... (serve_logs) in the background, its output in
# NAME.out; sets url_NAME.
serve_logs=(events.log)
start_server() {  # NAME COMMAND...
  local name=$1
  shift
  "$@" serve "${serve_logs[@]}" >"$name.out" 2>"$name.err" &
  eval "pid_$name=$!"
  # The sign is the one line it prints; a server that died gives none.
  local deadline=$((SECONDS + 120))
  while ! grep -q ' at http://' "$name.out" 2>/dev/null; do
    if ! kill -0 "$(eval echo "\$pid_$name")" 2>/dev/null || [ $SECONDS -gt $deadline ]; then
      echo "FAIL: velmora serve did not start ($name):" >&2
      head -n 5 "$name.err" >&2
      return 1
    fi
    sleep 0.2
  done
  eval "url_$name=\$(sed -n 's/.* at \(http:[^ ]*\)$/\1/p' $name.out | head -n 1)"
}
ask() {  # BASE_URL PATH [BODY]: the answer's body, the status on its last line
  local base=${1%%/\?token=*} token=${1##*token=}
  if [ $# -gt 2 ]; then
    curl -s -w '\n%{http_code}' -H "Authorization: Bearer $token" --data-binary "$3" "$base$2"
  else
    curl -s -w '\n%{http_code}' -H "Authorization: Bearer $token" "$base$2"
  fi
}
# The two servers asked the same GET questions give the same answers.
same_answers() {  # PATH...
  local q
  for q in "$@"; do
    ask "$url_native" "$q" >native.out
    ask "$url_wine" "$q" >wine.out
    if cmp -s native.out wine.out && [ "$(wc -l <native.out)" -gt 1 ]; then
      passed=$((passed + 1))
      echo "same: GET $q (status $(tail -n 1 native.out), $(wc -c <native.out) bytes)"
    else
      failed=$((failed + 1))
      echo "FAIL: GET $q: $(wc -c <native.out) bytes natively, $(wc -c <wine.out) under Wine" >&2
      cmp native.out wine.out >&2
      head -c 300 wine.out >&2
    fi
  done
}
if [ "$serve" = serve ]; then
  if start_server native "$native" && start_server wine "$wine_run" "$prefix" "$arch" run "$exe"; then
    same_answers '/api/records?limit=40' '/api/records?from=2005-01-05&to=2005-01-06&user=%D0%91%D1%83%D1%85%D0%B3%D0%B0%D0%BB%D1%82%D0%B5%D1%80&translate=all&limit=25' \
      '/api/histogram?not-event=DocOpen' '/api/users' '/api/sessions' '/api/export?format=csv&event=DocWrite' \
      '/api/records?dir=forward&limit=30&translate=event' '/api/nothing'
    if [ "$sql" = sql ]; then
      q="SELECT user, count(*) FROM log WHERE event = 'DocWrite' GROUP BY 1 ORDER BY 2 DESC, 1"
      ask "$url_native" /api/sql "$q" >native.out
      ask "$url_wine" /api/sql "$q" >wine.out
      if cmp -s native.out wine.out && [ "$(tail -n 1 native.out)" = 200 ]; then
        passed=$((passed + 1))
        echo "same: POST /api/sql"
      else
        failed=$((failed + 1))
        echo "FAIL: POST /api/sql differs or failed" >&2
        head -c 300 wine.out >&2
      fi
    fi
    # A request without the token is refused.
    if [ "$(curl -s -o /dev/null -w '%{http_code}' "${url_wine%%/\?token=*}/api/users")" = 401 ]; then
      passed=$((passed + 1))
      echo "refused: a request without the token"
    else
      failed=$((failed + 1))
      echo "FAIL: velmora.exe serve answered a request without the token" >&2
    fi
    # Ctrl-C, which Wine gives the program's console handler, stops the server
    # cleanly. The program is the last of the run script's line of children.
    leaf=$pid_wine
    while child=$(pgrep -P "$leaf" | head -n 1) && [ -n "$child" ]; do leaf=$child; done
    kill -INT "$leaf"
    if wait "$pid_wine" && grep -q 'velmora: stopped' wine.err; then
      passed=$((passed + 1))
      echo "stopped: velmora.exe serve on Ctrl-C"
    else
      failed=$((failed + 1))
      echo "FAIL: velmora.exe serve did not stop cleanly on Ctrl-C" >&2
      tail -n 5 wine.err >&2
    fi
  else
    failed=$((failed + 1))
  fi
  kill "${pid_native:-}" "${pid_wine:-}" 2>/dev/null
  wait 2>/dev/null
else
  "$wine_run" "$prefix" "$arch" run "$exe" serve events.log >wine.out 2>wine.err
  if [ $? -eq 3 ] && grep -q 'this build has no viewer' wine.err; then
    passed=$((passed + 1))
    echo "said: velmora.exe has no viewer"
  else
    failed=$((failed + 1))
    echo "FAIL: velmora.exe built without cpp-httplib did not say so" >&2
  fi
fi
# Compressed logs: each format velmora.exe reads gives the native answer, a
# truncated archive too (its records before the break, exit 3); a format it
# lacks is named, in --version and in the refusal of such a log.
"$wine_run" "$prefix" "$arch" run "$exe" --version >version.out 2>&1
for f in "gzip gz" "zstd zst" "bzip2 bz2" "xz xz"; do
  read -r format ext <<<"$f"
  # Level 1: bzip2's blocks are then 100 kB, so that half an archive holds whole ones.
  "$format" -1 -c events.log >"events.log.$ext" 2>/dev/null || { failed=$((failed + 1)); echo "FAIL: $format is missing" >&2; continue; }
  head -c $(($(wc -c <"events.log.$ext") / 2)) "events.log.$ext" >"cut.log.$ext"
  if grep -q "reads no.*\b$format\b" version.out; then
    "$wine_run" "$prefix" "$arch" run "$exe" stats "events.log.$ext" >wine.out 2>wine.err
    if [ $? -eq 3 ] && grep -q "$format-compressed, a format this build does not read" wine.err; then
      passed=$((passed + 1))
      echo "said: velmora.exe reads no $format"
    else
      failed=$((failed + 1))
      echo "FAIL: velmora.exe without $format did not say so" >&2
    fi
    continue
  fi
  same stats "events.log.$ext" --format csv --by day
  same data "events.log.$ext" --format csv --from 2005-01-05 --to 2005-01-09 --user Бухгалтер
  same data "cut.log.$ext" --format csv
done

# Several logs as one timeline: a folder of archives (one compressed) and
# the live log, in commands and in the viewer.
mkdir old
awk 'BEGIN { RS = "\r\n"; ORS = "\r\n" }
     { day = substr($0, 7, 2) + 0; print > (day <= 7 ? "old/b.log" : day <= 14 ? "old/a.log" : "live.log") }' events.log
# Compressed where velmora.exe reads gzip; a build without it reads the archive plain.
grep -q "reads no.*\bgzip\b" version.out || gzip -1 old/b.log
same data old live.log --format csv --from 2005-01-05 --to 2005-01-16 --user Бухгалтер
same stats old live.log --format csv --by day
same users old live.log --format csv
if [ "$sql" = sql ]; then
  same sql old live.log --format csv "SELECT user, count(*), sum(is_error) FROM log GROUP BY 1 ORDER BY 1"
fi
if [ "$serve" = serve ]; then
  serve_logs=(old live.log)
  if start_server native "$native" && start_server wine "$wine_run" "$prefix" "$arch" run "$exe"; then
    same_answers '/api/records?limit=40' '/api/records?dir=forward&limit=30&pos=1:1' '/api/records?limit=20&pos=2:1' \
      '/api/histogram' '/api/users'
  else
    failed=$((failed + 1))
  fi
  kill "${pid_native:-}" "${pid_wine:-}" 2>/dev/null
  wait 2>/dev/null
fi

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
