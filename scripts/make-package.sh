#!/usr/bin/env bash
# A package ready to ship, from a plain tree (what `make package` runs):
#   make-package.sh PKGTREE SETUP_EXE PLAIN ENV INF OUT
# OUT receives setup.exe, source (PLAIN compressed on every core), env and
# inf; the package is then verified against PLAIN and checked as the
# installer will read it. Only those four names in OUT are replaced.
set -euo pipefail
usage="usage: make-package.sh PKGTREE SETUP_EXE PLAIN ENV INF OUT"
[ $# -eq 6 ] || { echo "$usage" >&2; exit 2; }
pkgtree=$1 setup=$2 plain=$3 env=$4 inf=$5 out=$6
fail() { echo "make package: $*" >&2; exit 1; }
[ -x "$pkgtree" ] || fail "no pkgtree at $pkgtree"
[ -f "$setup" ] || fail "no setup.exe at $setup"
[ -d "$plain" ] || fail "PLAIN=$plain is not a folder"
[ -f "$env" ] || fail "ENV=$env is not a file"
[ -f "$inf" ] || fail "INF=$inf is not a file"
case "$(realpath -m "$out")/" in
  "$(realpath "$plain")"/*) fail "OUT=$out lies inside PLAIN=$plain" ;;
esac

mkdir -p "$out"
rm -rf "$out/source" "$out/setup.exe" "$out/env" "$out/inf"
echo "== compressing $plain into $out/source ($(nproc) cores)"
echo "$pkgtree compress $plain $out/source"
start=$(date +%s.%N)
"$pkgtree" compress "$plain" "$out/source"
awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "compressed in %.1f s\n", b - a }'
cp "$setup" "$out/setup.exe"
cp "$env" "$out/env"
cp "$inf" "$out/inf"

echo "== $pkgtree verify $out/source $plain"
"$pkgtree" verify "$out/source" "$plain"
echo "== $pkgtree check $out"
"$pkgtree" check "$out"
echo "== ready to ship: $out ($(du -sh "$out" | cut -f1)): setup.exe, source, env, inf"
echo "The user starts setup.exe in that folder; it installs the tree above and sets what check printed."
