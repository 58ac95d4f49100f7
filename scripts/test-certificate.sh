#!/usr/bin/env bash
# A throwaway code-signing certificate for tests and the demo, never for
# shipping: a test CA of its own and a signer it issued, made with openssl.
#   scripts/test-certificate.sh DIR              makes it in DIR (once)
#   scripts/test-certificate.sh --sign DIR FILE  signs the Windows program FILE in
#                                                place with it (made when missing)
# DIR then holds test-ca.pem (what `osslsigncode verify -CAfile` takes),
# test-signer.pem, test-signer.key (encrypted) and test-signer.pass (its
# passphrase). `pkgtree package --sign "scripts/test-certificate.sh --sign DIR {}"`
# signs a package with it.
set -euo pipefail
usage="usage: test-certificate.sh DIR | --sign DIR FILE"
sign=0
[ "${1:-}" = --sign ] && { sign=1; shift; }
dir=${1:?$usage}
[ $# -eq $((1 + sign)) ] || { echo "$usage" >&2; exit 2; }
for tool in openssl $([ $sign -eq 0 ] || echo osslsigncode); do
  command -v "$tool" >/dev/null || { echo "test-certificate: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

if [ ! -f "$dir/test-signer.pass" ]; then
  mkdir -p "$dir"
  made=$(mktemp -d "$dir/.making.XXXXXX")
  trap 'rm -rf "$made"' EXIT
  # openssl's chatter is kept to show only when it fails.
  quiet() { "$@" >"$made/log" 2>&1 || { cat "$made/log" >&2; exit 1; }; }
  head -c 18 /dev/urandom | base64 | tr -d '/+=' >"$made/test-signer.pass"
  quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout "$made/test-ca.key" -out "$made/test-ca.pem" -days 3650 \
    -subj "/CN=gcc-setup TEST CA - throwaway, not for shipping" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
  quiet openssl req -newkey rsa:2048 -keyout "$made/test-signer.key" -passout "file:$made/test-signer.pass" \
    -out "$made/test-signer.csr" -subj "/CN=gcc-setup TEST signer - throwaway, not for shipping"
  printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning" \
    >"$made/signer.ext"
  quiet openssl x509 -req -in "$made/test-signer.csr" -CA "$made/test-ca.pem" -CAkey "$made/test-ca.key" \
    -set_serial "0x$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')" -days 3650 -extfile "$made/signer.ext" \
    -out "$made/test-signer.pem"
  # The passphrase last: it marks the set as whole.
  for f in test-ca.key test-ca.pem test-signer.key test-signer.pem test-signer.pass; do mv "$made/$f" "$dir/$f"; done
fi
[ $sign -eq 1 ] || exit 0

file=$2
log=$(mktemp)
osslsigncode sign -certs "$dir/test-signer.pem" -key "$dir/test-signer.key" -readpass "$dir/test-signer.pass" \
  -n "gcc-setup (test signature)" -in "$file" -out "$file.signed" >"$log" 2>&1 ||
  { cat "$log" >&2; rm -f "$file.signed" "$log"; exit 1; }
rm -f "$log"
mv -f "$file.signed" "$file"
