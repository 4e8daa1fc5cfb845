#!/usr/bin/env bash
# Installs every package the build, the tests and the benchmarks need on
# Debian 12, as root. Idempotent, and quick when everything is present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build git
  googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 mingw-w64-tools libwine-dev
  wine wine32:i386 xvfb xauth
  locales
)

missing=()
for p in "${packages[@]}"; do
  # dpkg-query names i386 packages with their architecture suffix.
  if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
