#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent and
# quiet when everything is already there.
#   scripts/install-deps.sh                the build and the tests (with openssl and
#                                          osslsigncode for the signed packages, zip and
#                                          unzip for the one-file packages)
#   scripts/install-deps.sh --build-only   the build of the programs alone (xmllint
#                                          reads back their manifests)
#   scripts/install-deps.sh --deb          what `make deb` adds: dpkg-shlibdeps (and file, for CPack), lintian
set -euo pipefail
# shellcheck source=apt-lock.sh
. "$(dirname "$0")/apt-lock.sh"

case "${1:-}" in
  --build-only) native=(cmake g++ make libbz2-dev libxml2-utils) ;;
  --deb) native=(dpkg-dev file lintian) ;;
  *) native=(cmake g++ make libbz2-dev libgtest-dev googletest bzip2 clang libclang-rt-14-dev libxml2-utils osslsigncode openssl zip unzip p7zip-full) ;;
esac
# The check of the documents' commands (tests/docs) runs under python3.
[ -n "${1:-}" ] || native+=(python3)

missing=()
for pkg in "${native[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  # apt's own lines are kept to show only when it fails.
  log=$(mktemp)
  { apt_locked $sudo apt-get update -q &&
    DEBIAN_FRONTEND=noninteractive apt_locked $sudo apt-get install -y -q "${missing[@]}"; } \
    </dev/null >"$log" 2>&1 || { cat "$log" >&2; rm -f "$log"; exit 1; }
  rm -f "$log"
fi
