# Sourced by the scripts that build Windows libraries from Debian's own
# source packages. deb_source PKG DIR: unpacks PKG's source (with Debian's
# patches) into DIR and prints the tree's path. Needs a deb-src entry for
# the archive the machine installs from; one is added beside the machine's
# own entries when none is there.
deb_source() {
  local pkg=$1 dir=$2 sudo="" uri suite
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  if ! grep -rqsE '^(deb-src |Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    uri=$(grep -rhsE '^URIs:' /etc/apt/sources.list.d/*.sources | head -n 1 | awk '{print $2}')
    [ -n "$uri" ] || uri=$(awk '$1 == "deb" && $2 !~ /^\[/ {print $2; exit}' /etc/apt/sources.list 2>/dev/null)
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
    [ -n "$uri" ] && [ -n "$suite" ] || { echo "deb_source: no archive to take sources from" >&2; return 1; }
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$uri" "$suite" | $sudo tee /etc/apt/sources.list.d/velmora-deb-src.sources >/dev/null
    $sudo apt-get update -qq
  fi
  rm -rf "$dir"
  mkdir -p "$dir"
  # Root downloads it unsandboxed, and apt says so; that warning is noise here.
  (cd "$dir" && apt-get source -qq "$pkg" 2>&1 | grep -v 'unsandboxed as root' >&2 || true)
  local tree
  tree=$(find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  [ -n "$tree" ] || { echo "deb_source: apt-get source $pkg gave no source tree" >&2; return 1; }
  echo "$tree"
}
