#!/usr/bin/env bash
# The viewer as a person uses it, in headless Chromium driven by
# playwright-core: the test's own copy of it is installed into the build tree.
# Exit 0 passed, 1 failed, 77 skipped (no browser, no node, or no package),
# saying why.
set -uo pipefail
velmora=$1 out=$2
src=$(cd "$(dirname "$0")" && pwd)
chromium=${VELMORA_CHROMIUM:-$(command -v chromium || command -v chromium-browser || true)}
if [[ -z $chromium ]]; then echo "SKIPPED: no chromium (scripts/install-deps.sh installs Debian's chromium)"; exit 77; fi
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then echo "SKIPPED: no node and npm"; exit 77; fi
mkdir -p "$out/npm"
if [[ ! -d $out/npm/node_modules/playwright-core ]]; then
  if ! npm install --prefix "$out/npm" --no-audit --no-fund --silent playwright-core@1.49.1 >"$out/npm.log" 2>&1; then
    echo "SKIPPED: npm could not install playwright-core:"; tail -5 "$out/npm.log"; exit 77
  fi
fi
work=$(mktemp -d)
trap 'kill -TERM $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$work"' EXIT
"$velmora" sample "$work/events.log" --days 60 --per-day 400 >/dev/null
"$velmora" serve "$work/events.log" >"$work/serve.out" 2>"$work/serve.err" &
server=$!
for _ in $(seq 100); do [[ -s $work/serve.out ]] && break; sleep 0.1; done
url=$(sed -n 's/.* at //p' "$work/serve.out")
if [[ -z $url ]]; then echo "FAILED: the server printed no address"; cat "$work/serve.err"; exit 1; fi
NODE_PATH="$out/npm/node_modules" node "$src/serve_browser.cjs" "$url" "$velmora" "$work/events.log" "$chromium" "$out"
