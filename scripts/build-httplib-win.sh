#!/usr/bin/env bash
# cpp-httplib for the Windows builds of the viewer: the header-only httplib.h
# of Debian's own source package (with Debian's patches) into build-httplib/.
# Debian's binary package ships it split into declarations and a shared
# library, which MinGW cannot use. Done once: a later run finds the header
# and returns at once.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build-httplib
[ -f "$out/httplib.h" ] && exit 0
. scripts/deb-source.sh
tree=$(deb_source cpp-httplib "$out/src")
[ -f "$tree/httplib.h" ] || { echo "build-httplib-win.sh: no httplib.h in $tree" >&2; exit 1; }
cp "$tree/httplib.h" "$out/httplib.h.part"
mv "$out/httplib.h.part" "$out/httplib.h"
rm -rf "$out/src"
echo "cpp-httplib $(sed -n 's/^#define CPPHTTPLIB_VERSION "\(.*\)"/\1/p' "$out/httplib.h") for Windows in $out" >&2
