#!/usr/bin/env bash
# pkgtree as a maintainer uses it: packages alike on any number of jobs,
# stock bzip2 agreement, -v, verify, check, failures, progress, exit codes.
set -u
pkgtree=$1
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }

mkdir -p "$work/plain/bin" "$work/plain/empty/deeper" "$work/plain/.dot"
head -c 300000 /dev/urandom > "$work/plain/bin/gcc.exe"
printf 'hello\n' > "$work/plain/.dot/.hidden"
: > "$work/plain/zero"
seq 1 100000 > "$work/plain/numbers.txt"
for i in $(seq 1 40); do seq "$i" 3000 > "$work/plain/bin/f$i.h"; done

"$pkgtree" -j 1 compress "$work/plain" "$work/pkg" > "$work/compress.out" 2>&1
check "compress exits 0 and is quiet without -v" '[ $? -eq 0 ] && [ ! -s "$work/compress.out" ]'
"$pkgtree" -j 4 -v compress "$work/plain" "$work/pkg4" > "$work/compress4.out" 2>&1
check "-j 4 makes the package of -j 1 byte for byte, empty folders included" \
  'diff -r "$work/pkg" "$work/pkg4" && [ -d "$work/pkg4/empty/deeper" ]'
"$pkgtree" -j 1 -v expand "$work/pkg" "$work/out" > "$work/expand.out" 2> "$work/expand.err"
check "expand exits 0" '[ $? -eq 0 ] && [ ! -s "$work/expand.err" ]'
check "round trip is byte-identical, empty folders and hidden files included" 'diff -r "$work/plain" "$work/out" && [ -d "$work/out/empty/deeper" ]'
check "-v prints each destination path" '[ "$(sort "$work/expand.out")" = "$(cd "$work/out" && find . -type f | sed "s|^\.|$work/out|" | sort)" ]'
"$pkgtree" -j 3 -v expand "$work/pkg" "$work/out3" > "$work/expand3.out"
check "-j 3 expands the same tree and prints its -v lines in the order of -j 1" \
  'diff -r "$work/plain" "$work/out3" && [ "$(sed "s|$work/out3|D|" "$work/expand3.out")" = "$(sed "s|$work/out|D|" "$work/expand.out")" ]'

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

# verify: a sound package, then one with every kind of fault.
"$pkgtree" verify "$work/pkg" "$work/plain" > "$work/verify.out"
check "verify passes a sound package with its summary" \
  '[ $? -eq 0 ] && grep -q "^$work/pkg: 4 folders, 44 files, [0-9]* bytes plain .* bytes packed .* % of plain" "$work/verify.out" && grep -qx "verify: all well" "$work/verify.out"'
cp -r "$work/pkg" "$work/bad"
printf 'not bzip2' > "$work/bad/zero"
head -c 1000 "$work/pkg/numbers.txt" > "$work/bad/numbers.txt"
{ cat "$work/pkg/bin/f1.h"; printf 'x'; } > "$work/bad/bin/f1.h"
# A flipped byte in the middle of the data: the block's check fails.
size=$(stat -c %s "$work/pkg/bin/gcc.exe")
printf '\x55' | dd of="$work/bad/bin/gcc.exe" bs=1 seek=$((size / 2)) conv=notrunc status=none
printf 'other' | bzip2 -9 > "$work/bad/bin/f2.h"
rm "$work/bad/bin/f3.h"
printf 'new' | bzip2 -9 > "$work/bad/bin/new.h"
"$pkgtree" -j 2 verify "$work/bad" "$work/plain" > "$work/bad.out"
rc=$?
check "verify names each problem with its path and exits 1" '[ $rc -eq 1 ] && [ "$(grep -v "^$work/bad: \|^verify: " "$work/bad.out" | sort)" = "$(sort <<LINES
$work/bad/zero: not bzip2 data
$work/bad/numbers.txt: cut short: the bzip2 stream does not end
$work/bad/bin/f1.h: 1 byte after the bzip2 stream, which the installer ignores
$work/bad/bin/gcc.exe: damaged: its bzip2 data fails the check
$work/bad/bin/f2.h: differs from the plain file from byte 0
$work/plain/bin/f3.h: missing from the package
$work/bad/bin/new.h: not in the plain tree
LINES
)" ] && grep -qx "verify: 7 problems" "$work/bad.out"'

# check: what the installer makes of env and inf, and their format errors.
mkdir -p "$work/ship"
cp -r "$work/pkg" "$work/ship/source"
: > "$work/ship/setup.exe"
printf '# the search path\nPATH\nREG_EXPAND_SZ\n\\bin\n::\nLIBRARY_PATH\nREG_SZ\n\\lib;\\lib\\gcc\n::\n' > "$work/ship/env"
printf 'GCC\n::\n$\\bin\\gcc.exe,Compiler\n::\nGCC\n' > "$work/ship/inf"
"$pkgtree" check "$work/ship" 'd:\gcc' > "$work/check.out"
check "check prints each variable and the exact Program Manager text" '[ $? -eq 0 ] &&
  grep -qx "  PATH  REG_EXPAND_SZ  d:.gcc.bin" "$work/check.out" &&
  grep -qx "  LIBRARY_PATH  REG_SZ  d:.gcc.lib;d:.gcc.lib.gcc" "$work/check.out" &&
  grep -qxF "  [CreateGroup(GCC, )][AddItem(d:\\gcc\\bin\\gcc.exe,Compiler)][ShowGroup(GCC,4, )][ExitProgman(1)]" "$work/check.out" &&
  grep -qx "check: all well" "$work/check.out"'
printf 'PATH\nREG_EXPAND_SZ\n\\bin\n::\nLIB\nreg_sz\n\\lib\n::\n' > "$work/ship/env"
printf 'GCC\n::\n%0100d\n' 7 > "$work/ship/inf"
rm "$work/ship/setup.exe"
"$pkgtree" check "$work/ship" > "$work/check-bad.out"
check "check reports format errors of env and inf with their lines, and a missing setup.exe" '[ $? -eq 1 ] &&
  grep -qxF "problem: $work/ship/env line 6: the installer stops reading it with \"key value not defined.\" and sets no variable" "$work/check-bad.out" &&
  grep -qxF "problem: $work/ship/inf line 3: longer than 79 characters: the installer leaves it out" "$work/check-bad.out" &&
  grep -q "^problem: $work/ship/setup.exe: missing" "$work/check-bad.out"'

# Failures: the platform's paths, the caption once, the file named.
"$pkgtree" expand "$work/missing" "$work/x" > /dev/null 2> "$work/missing.err"
check "a failure exits 1 with the message" '[ $? -eq 1 ] && [ "$(cat "$work/missing.err")" = "pkgtree: Source directory does not exist." ]'
mkdir -p "$work/ro/bin"
: > "$work/ro/bin/f5.h"
chmod a-w "$work/ro/bin/f5.h"
"$pkgtree" -j 1 copy "$work/plain" "$work/ro" > /dev/null 2> "$work/ro.err"
check "a message that names no file gets its file, once captioned" \
  '[ $? -eq 1 ] && [ "$(cat "$work/ro.err")" = "pkgtree: $work/ro/bin/f5.h: Error: cannot open new destination file to install." ] && [ ! -s "$work/ro/bin/f5.h" ]'
"$pkgtree" -j 2 expand "$work/bad" "$work/y" > /dev/null 2> "$work/damaged.err"
check "under -j 2 the first failure exits 1 naming its file, and leaves no half of it" \
  '[ $? -eq 1 ] && grep -Eqx "pkgtree: Damaged package file $work/bad/(zero|numbers.txt|bin/gcc.exe): it is not a complete bzip2 stream." "$work/damaged.err" &&
   [ "$(wc -l < "$work/damaged.err")" -eq 1 ] && [ ! -e "$work/y/zero" ] && [ ! -e "$work/y/numbers.txt" ] && [ ! -e "$work/y/bin/gcc.exe" ]'
ok=1
for f in $(cd "$work/y" && find . -type f); do
  case "$f" in ./bin/f1.h|./bin/f2.h|./bin/new.h) continue ;; esac
  cmp -s "$work/y/$f" "$work/plain/$f" || ok=0
done
check "the files written before the stop are whole" '[ $ok -eq 1 ]'

# The progress line: on a terminal only, and not with -q.
if command -v script > /dev/null; then
  script -qec "$pkgtree -j 2 compress $work/plain $work/pkg-tty" /dev/null > "$work/tty.out" 2>&1
  check "on a terminal a progress line counts the files in place" \
    'grep -q "$(printf "\r")44/44 files  [0-9.]* MiB of [0-9.]* MiB  .* MiB/s  0:00 left" "$work/tty.out" && diff -r "$work/pkg" "$work/pkg-tty"'
  script -qec "$pkgtree -q -j 2 compress $work/plain $work/pkg-q" /dev/null > "$work/quiet.out" 2>&1
  check "-q silences it" '[ ! -s "$work/quiet.out" ]'
else
  check "script (util-linux) runs pkgtree on a pseudo-terminal" false
fi
"$pkgtree" -j 2 compress "$work/plain" "$work/pkg-pipe" 2> "$work/pipe.err" | cat
check "with standard error not a terminal nothing of it appears" '[ ! -s "$work/pipe.err" ]'

"$pkgtree" frobnicate a b > /dev/null 2> "$work/usage.err"
check "bad arguments exit 2 with a usage line" '[ $? -eq 2 ] && grep -q "^usage: pkgtree" "$work/usage.err"'
"$pkgtree" expand onlyone > /dev/null 2>&1
check "too few arguments exit 2" '[ $? -eq 2 ]'
"$pkgtree" -j 0 expand a b > /dev/null 2>&1
check "a job count below 1 exits 2" '[ $? -eq 2 ]'

exit $((failures > 0))
