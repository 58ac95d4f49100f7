#!/usr/bin/env bash
# pkgtree.exe under Wine against the native pkgtree on one tree: each build
# expands the other's package, and both give back the tree byte for byte.
#   pkgtree_roundtrip.sh NATIVE_PKGTREE PKGTREE_EXE WINE_ENV BENCH_DIR
set -euo pipefail
native=$1
windows=$2
wine_env=$3
bench=$4
if [ ! -x "$native" ]; then
  echo "no native pkgtree at $native: build the native tree first (make native-test)"
  exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/pkgtree-wine.XXXXXX")
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work"
wine_pkgtree() { "$wine_env" "$bench" "$windows" "$@"; }

mkdir -p plain/bin plain/lib/gcc/empty "plain/with space" plain/.hidden
head -c 300000 /dev/urandom >plain/bin/random.bin
awk 'BEGIN { for (i = 0; i < 70000; i++) print "the same line again and again" }' >plain/lib/repeats.txt
printf 'line one\r\nline two\nno end' >"plain/with space/text file.txt"
: >plain/empty.txt
printf '\x1a\x00\xff\r\n\n' >plain/.hidden/control
head -c 900001 /dev/urandom >plain/lib/gcc/block-and-one.bin

"$native" compress plain pkg-native >/dev/null
wine_pkgtree compress plain pkg-windows >/dev/null
"$native" expand pkg-windows out-native >/dev/null
wine_pkgtree expand pkg-native out-windows >/dev/null
wine_pkgtree copy plain copy-windows >/dev/null

status=0
for out in out-native out-windows copy-windows; do
  if diff -r plain "$out" >"$out.diff"; then
    echo "$out: same tree"
  else
    echo "$out differs:"; cat "$out.diff"; status=1
  fi
done
[ -d out-windows/lib/gcc/empty ] || { echo "empty folder not recreated"; status=1; }
# Both builds use the same library at the same block size.
if diff -r pkg-native pkg-windows >/dev/null; then
  echo "the packages of both builds are byte-identical"
else
  echo "the packages of both builds differ"; status=1
fi
exit "$status"
