#!/usr/bin/env bash
# pkgtree as a maintainer uses it: round trip, stock bzip2 agreement, -v, exit codes.
set -u
pkgtree=$1
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }

mkdir -p "$work/plain/bin" "$work/plain/empty/deeper" "$work/plain/.dot"
head -c 300000 /dev/urandom > "$work/plain/bin/gcc.exe"
printf 'hello\n' > "$work/plain/.dot/.hidden"
: > "$work/plain/zero"
seq 1 100000 > "$work/plain/numbers.txt"

"$pkgtree" compress "$work/plain" "$work/pkg" > "$work/compress.out" 2>&1
check "compress exits 0 and is quiet without -v" '[ $? -eq 0 ] && [ ! -s "$work/compress.out" ]'
"$pkgtree" -v expand "$work/pkg" "$work/out" > "$work/expand.out" 2> "$work/expand.err"
check "expand exits 0" '[ $? -eq 0 ] && [ ! -s "$work/expand.err" ]'
check "round trip is byte-identical, empty folders and hidden files included" 'diff -r "$work/plain" "$work/out" && [ -d "$work/out/empty/deeper" ]'
check "-v prints each destination path" '[ "$(sort "$work/expand.out")" = "$(cd "$work/out" && find . -type f | sed "s|^\.|$work/out|" | sort)" ]'

ok=1
for f in $(cd "$work/plain" && find . -type f); do
  bzip2 -t "$work/pkg/$f" 2>/dev/null && cmp -s <(bzip2 -dc "$work/pkg/$f") "$work/plain/$f" || ok=0
done
check "every package file is one stream that stock bzip2 expands" '[ $ok -eq 1 ]'

mkdir -p "$work/stock"
bzip2 -9c "$work/plain/numbers.txt" > "$work/stock/numbers.txt"
"$pkgtree" expand "$work/stock" "$work/stock-out"
check "files written by bzip2 -9 expand" 'cmp -s "$work/stock-out/numbers.txt" "$work/plain/numbers.txt"'

"$pkgtree" copy "$work/plain" "$work/copy"
check "copy gives the plain tree back" 'diff -r "$work/plain" "$work/copy"'

"$pkgtree" expand "$work/missing" "$work/x" > /dev/null 2> "$work/missing.err"
check "a failure exits 1 with the message" '[ $? -eq 1 ] && grep -q "Source directory does not exist." "$work/missing.err"'
printf 'not bzip2' > "$work/pkg/zero"
"$pkgtree" expand "$work/pkg" "$work/y" > /dev/null 2> "$work/damaged.err"
check "a damaged package file exits 1 naming it" '[ $? -eq 1 ] && grep -q "Damaged package file .*zero" "$work/damaged.err"'
"$pkgtree" frobnicate a b > /dev/null 2> "$work/usage.err"
check "bad arguments exit 2 with a usage line" '[ $? -eq 2 ] && grep -q "^usage: pkgtree" "$work/usage.err"'
"$pkgtree" expand onlyone > /dev/null 2>&1
check "too few arguments exit 2" '[ $? -eq 2 ]'

exit $((failures > 0))
