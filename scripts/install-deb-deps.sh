#!/usr/bin/env bash
# Installs what `make deb` needs beyond the native and cross builds: dpkg's
# tools (dpkg-shlibdeps reads the package's dependencies) and lintian, which
# checks the package. Idempotent and quiet when everything is there.
set -euo pipefail

packages=(dpkg-dev lintian)
missing=()
for pkg in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  log=$(mktemp)
  { $sudo apt-get update -q && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"; } \
    </dev/null >"$log" 2>&1 || { cat "$log" >&2; rm -f "$log"; exit 1; }
  rm -f "$log"
fi
