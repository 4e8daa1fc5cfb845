#!/usr/bin/env bash
# The compression libraries for velmora.exe: Debian's own source packages
# (apt-get source, with Debian's patches) of zlib, libzstd, bzip2 and
# xz-utils, compiled by MinGW for i686 and x86-64 into static libraries in
# build-winlibs/win32 and build-winlibs/win64 (lib/, include/). Only the
# decoding halves are needed: zstd's decompressor, liblzma without its
# encoders. Done once: a later run finds a library and skips it. A library
# that fails to build is left out, and velmora.exe names the format it then
# cannot read (velmora --version).
#
# Needs a deb-src entry, as scripts/build-sqlite-win.sh does (it adds one).
set -uo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build-winlibs
work=$out/src
mkdir -p "$work"
arches=("win32 i686-w64-mingw32" "win64 x86_64-w64-mingw32")
failed=()

# Fetches and unpacks a source package once; prints its tree's path.
source_tree() {  # PACKAGE DIRECTORY-GLOB
  local tree
  tree=$(find "$work" -maxdepth 1 -type d -name "$2" | head -n 1)
  if [ -z "$tree" ]; then
    # Root downloads it unsandboxed, and apt says so; that warning is noise here.
    (cd "$work" && apt-get source -qq "$1" 2>&1 | grep -v 'unsandboxed as root' >&2)
    tree=$(find "$work" -maxdepth 1 -type d -name "$2" | head -n 1)
  fi
  [ -n "$tree" ] && echo "$tree"
}

built() { [ -f "$out/$1/lib/$2" ]; }  # ARCH LIBRARY

# Compiles the C files given into ARCH's LIBRARY with the compiler of TRIPLE.
compile() {  # ARCH TRIPLE LIBRARY FLAGS... -- FILES...
  local arch=$1 triple=$2 lib=$3
  shift 3
  local flags=()
  while [ "$1" != "--" ]; do flags+=("$1"); shift; done
  shift
  local objs=$out/$arch/obj-${lib%.a}
  rm -rf "$objs" && mkdir -p "$objs" "$out/$arch/lib"
  local f
  for f in "$@"; do
    "$triple-gcc" -O2 "${flags[@]}" -c "$f" -o "$objs/$(basename "${f%.c}").o" || return 1
  done
  "$triple-ar" rcs "$out/$arch/lib/$lib.part" "$objs"/*.o && mv "$out/$arch/lib/$lib.part" "$out/$arch/lib/$lib"
  rm -rf "$objs"
}

zlib() {  # ARCH TRIPLE
  built "$1" libz.a && return 0
  local src
  src=$(source_tree zlib 'zlib-*') || return 1
  compile "$1" "$2" libz.a -- "$src"/{adler32,crc32,inffast,inflate,inftrees,zutil}.c || return 1
  mkdir -p "$out/$1/include" && cp "$src"/zlib.h "$src"/zconf.h "$out/$1/include/"
}

zstd() {
  built "$1" libzstd.a && return 0
  local src
  src=$(source_tree libzstd 'libzstd-*') || return 1
  # The decompressor alone, in C (the x86-64 assembly is for ELF).
  compile "$1" "$2" libzstd.a -DZSTD_DISABLE_ASM -DZSTD_LEGACY_SUPPORT=0 -- "$src"/lib/common/*.c \
    "$src"/lib/decompress/*.c || return 1
  mkdir -p "$out/$1/include" && cp "$src"/lib/zstd.h "$src"/lib/zstd_errors.h "$out/$1/include/"
}

bzip2() {
  built "$1" libbz2.a && return 0
  local src
  src=$(source_tree bzip2 'bzip2-*') || return 1
  compile "$1" "$2" libbz2.a -- "$src"/{blocksort,huffman,crctable,randtable,compress,decompress,bzlib}.c ||
    return 1
  mkdir -p "$out/$1/include" && cp "$src"/bzlib.h "$out/$1/include/"
}

xz() {
  built "$1" liblzma.a && return 0
  local src
  src=$(source_tree xz-utils 'xz-utils-*') || return 1
  local b=$out/$1/xz-build
  rm -rf "$b" && mkdir -p "$b"
  (cd "$b" && "$src/configure" --host="$2" --prefix="$out/$1" --disable-shared --enable-static \
    --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-lzma-links --disable-scripts \
    --disable-doc --disable-nls --enable-threads=no --disable-encoders >configure.log 2>&1 &&
    make -C src/liblzma >make.log 2>&1 && make -C src/liblzma install >install.log 2>&1) || {
    echo "build-win-libs.sh: liblzma for $1 failed; see $b/*.log" >&2
    return 1
  }
  rm -rf "$b" "$out/$1/lib/liblzma.la" "$out/$1/lib/pkgconfig"
}

for entry in "${arches[@]}"; do
  read -r arch triple <<<"$entry"
  for lib in zlib zstd bzip2 xz; do
    "$lib" "$arch" "$triple" || failed+=("$lib for $arch")
  done
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "build-win-libs.sh: not built: ${failed[*]}; velmora.exe will not read those formats" >&2
  exit 1
fi
echo "compression libraries for Windows in $out" >&2
