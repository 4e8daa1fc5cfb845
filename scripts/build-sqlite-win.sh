#!/usr/bin/env bash
# SQLite for the Windows builds: Debian's own source package of SQLite
# (apt-get source sqlite3, with Debian's patches), its amalgamation made
# with the configure script, compiled by MinGW for i686 and x86-64 into
# build-sqlite/win32 and build-sqlite/win64 (libsqlite3.a, sqlite3.h).
# Done once: a later run finds the libraries and returns at once. The
# win32 and win64 presets link velmora.exe with them where they exist; where
# they do not, velmora.exe says that it has no SQL.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build-sqlite
[ -f "$out/win32/libsqlite3.a" ] && [ -f "$out/win64/libsqlite3.a" ] && exit 0

. scripts/deb-source.sh
work=$out/src
src=$(deb_source sqlite3 "$work")
cd "$work"
mkdir -p amalgamation
(cd amalgamation && "$src/configure" --disable-tcl >configure.log 2>&1 && make sqlite3.c >make.log 2>&1) || {
  echo "build-sqlite-win.sh: making the amalgamation failed; see $work/amalgamation/*.log" >&2
  exit 1
}

# Threads as Windows has them; extensions loaded by the shell only, never by
# the tool.
flags=(-O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION)
build() {  # ARCH TRIPLE
  mkdir -p "$out/$1"
  "$2-gcc" "${flags[@]}" -c amalgamation/sqlite3.c -o "$out/$1/sqlite3.o"
  "$2-ar" rcs "$out/$1/libsqlite3.a.part" "$out/$1/sqlite3.o"
  rm -f "$out/$1/sqlite3.o"
  cp amalgamation/sqlite3.h "$out/$1/"
  mv "$out/$1/libsqlite3.a.part" "$out/$1/libsqlite3.a"
}
build win32 i686-w64-mingw32 &
win32=$!
build win64 x86_64-w64-mingw32 &
win64=$!
wait $win32
wait $win64
echo "SQLite $(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' amalgamation/sqlite3.h) for Windows in $out" >&2
