#!/usr/bin/env bash
# Installs the packages of the project on Debian 12, as root (or with sudo).
# Idempotent, and quick when everything is present.
#   install-deps.sh          everything: builds, tests, benchmarks, the Windows
#                            builds under Wine, the browser test of the report
#   install-deps.sh --tool   only what building the velmora tool needs
set -euo pipefail

# The compression libraries let the tool read compressed logs (gzip, zstd,
# bzip2, xz); the add-in does not use them.
tool_packages=(g++ make cmake libcli11-dev libsqlite3-dev libcpp-httplib-dev pkg-config
  zlib1g-dev libzstd-dev libbz2-dev liblzma-dev)
all_packages=(
  build-essential cmake ninja-build git
  googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libsqlite3-dev sqlite3 libcpp-httplib-dev pkg-config
  zlib1g-dev libzstd-dev libbz2-dev liblzma-dev gzip zstd bzip2 xz-utils
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev
  wine wine32:i386 wine64 xvfb xauth
  chromium fonts-dejavu-core
  locales
  tcl dpkg-dev
  ripgrep strace bc time curl
)

case "${1:-}" in
  --tool) packages=("${tool_packages[@]}") everything=false ;;
  "") packages=("${all_packages[@]}") everything=true ;;
  *) echo "usage: install-deps.sh [--tool]" >&2; exit 2 ;;
esac

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# Wine takes its ANSI code page (1251) from LC_ALL=ru_RU.UTF-8, which must
# exist as a generated locale.
ensure_ru_locale() {
  if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
    $SUDO sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
  fi
}

missing=()
for p in "${packages[@]}"; do
  # dpkg-query names i386 packages with their architecture suffix.
  if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  if $everything && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if $everything; then ensure_ru_locale; fi
# SQLite for velmora.exe, from Debian's source package, built once into the
# tree. Without it the Windows tool still builds, and says it has no SQL.
if $everything; then
  bash "$(dirname "$0")/build-sqlite-win.sh" ||
    echo "install-deps.sh: SQLite for Windows could not be built; velmora.exe will have no SQL" >&2
  bash "$(dirname "$0")/build-httplib-win.sh" ||
    echo "install-deps.sh: cpp-httplib for Windows could not be had; velmora.exe will have no viewer" >&2
  # The same for the compression libraries; a format left out is named by
  # velmora.exe --version.
  bash "$(dirname "$0")/build-win-libs.sh" ||
    echo "install-deps.sh: some compression libraries for Windows could not be built" >&2
fi
