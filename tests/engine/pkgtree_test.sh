#!/usr/bin/env bash
# pkgtree as a maintainer uses it: packages alike on any number of jobs,
# stock bzip2 agreement, -v, verify, check, failures, progress, exit codes.
set -u
pkgtree=$1
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }
# shellcheck source=pe_image.sh
. "$(dirname "$0")/pe_image.sh"

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
  bzip2 -t "$work/pkg/$f" 2>/dev/null && cmp -s <(bzip2 -dc "$work/pkg/$f") "$work/plain/$f" &&
    cmp -s <(bzip2 -9c "$work/plain/$f") "$work/pkg/$f" || ok=0
done
check "every package file is one stream that stock bzip2 expands, the very bytes of bzip2 -9" '[ $ok -eq 1 ]'

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
pe_image 14c "$work/ship/setup.exe"
printf '# the search path\nPATH\nREG_EXPAND_SZ\n\\bin\n::\nLIBRARY_PATH\nREG_SZ\n\\lib;\\lib\\gcc\n::\n' > "$work/ship/env"
printf 'GCC\n::\n$\\bin\\gcc.exe,Compiler\n::\nGCC\n' > "$work/ship/inf"
"$pkgtree" check "$work/ship" 'd:\gcc' > "$work/check.out"
check "check prints each variable and the exact Program Manager text" '[ $? -eq 0 ] &&
  grep -qx "  PATH  REG_EXPAND_SZ  d:.gcc.bin" "$work/check.out" &&
  grep -qx "  LIBRARY_PATH  REG_SZ  d:.gcc.lib;d:.gcc.lib.gcc" "$work/check.out" &&
  grep -qxF "  [CreateGroup(GCC, )][AddItem(d:\\gcc\\bin\\gcc.exe,Compiler)][ShowGroup(GCC,4, )][ExitProgman(1)]" "$work/check.out" &&
  grep -qx "check: all well" "$work/check.out"'
"$pkgtree" check "$work/ship" 'd:\gcc' > /dev/full 2> /dev/null
check "check into a full standard output exits 1" '[ $? -eq 1 ]'
printf 'PATH\nREG_EXPAND_SZ\n\\bin\n::\nLIB\nreg_sz\n\\lib\n::\n' > "$work/ship/env"
printf 'GCC\n::\n%0100d\n' 7 > "$work/ship/inf"
rm "$work/ship/setup.exe"
"$pkgtree" check "$work/ship" > "$work/check-bad.out"
check "check reports format errors of env and inf with their lines, and a missing setup.exe" '[ $? -eq 1 ] &&
  grep -qxF "problem: $work/ship/env line 6: the installer stops reading it with \"key value not defined.\" and sets no variable" "$work/check-bad.out" &&
  grep -qxF "problem: $work/ship/inf line 3: longer than 79 characters: the installer leaves it out" "$work/check-bad.out" &&
  grep -q "^problem: $work/ship/setup.exe: missing" "$work/check-bad.out"'

# check against the installer itself: the native setup installs the same
# package for the folder typed with a trailing backslash, its env ending in
# a blank line; what check prints is what setup wrote and sent.
setup=$(cd "$(dirname "$pkgtree")" && pwd)/setup
good=$work/good
mkdir -p "$good/source/include/c++/bits" "$good/source/lib"
printf 'GCC\n::\n$\\bin\\gcc.exe,Compiler\n::\nGCC\n' > "$good/inf"
printf 'GCCTEST\nREG_SZ\n\\bin;\\lib\n::\n\n' > "$good/env"
pe_image 14c "$good/setup.exe"
mkdir -p "$good/source/bin" && printf 'x' | bzip2 -9 > "$good/source/bin/gcc.exe"
printf 'x' | bzip2 -9 > "$good/source/include/c++/bits/stl_algorithm_and_more.h"
folder="$work/inst\\"
if [ -x "$setup" ]; then
  (cd "$good" && printf 'click 1\ntype %s\nclick 5\nclick 7\n' "$folder" |
    SETUP_MACHINE_REGISTRY="$work/machine.reg" SETUP_USER_REGISTRY="$work/user.reg" "$setup" > /dev/null 2> "$work/setup.err")
  "$pkgtree" check "$good" "$folder" > "$work/good.out"
  check_rc=$?
  written=$(sed -n 's/^"GCCTEST"="\(.*\)"$/\1/p' "$work/machine.reg" | sed 's/\\\\/\\/g')
  sent=$(sed -n 's/^execute //p' "$work/setup.err")
  check "check prints the value setup wrote and the text it sent, for a folder with a trailing backslash and an env ending in a blank line" \
    '[ $check_rc -eq 0 ] && [ -n "$written" ] && grep -qxF "  GCCTEST  REG_SZ  $written" "$work/good.out" &&
     [ -n "$sent" ] && [ "$(grep -A1 "^Program Manager text:" "$work/good.out" | tail -1)" = "  $sent" ] &&
     [ -f "$work/inst/bin/gcc.exe" ] && grep -qx "check: all well" "$work/good.out"'
else
  check "the native setup stands beside pkgtree ($setup)" false
fi
# Its figures: the longest path, the longest folder to unpack the package
# in (FOLDER\source\ and the path within 259) and the longest FOLDER (files
# within 259); the engine agrees at that FOLDER and at one character more.
longest=$(grep "^  longest installed path: " "$work/good.out")
fits=$(sed -n 's/^  install it into a FOLDER of at most \([0-9]*\) characters: .*/\1/p' "$work/good.out")
unpack=$(sed -n 's/^  unpack it in a folder of at most \([0-9]*\) characters: .*/\1/p' "$work/good.out")
check "check gives the longest path and the longest folders to unpack in and to install into" \
  '[ "$longest" = "  longest installed path: $((${#work} + 6 + 41)) characters, $work/inst\\include\\c++\\bits\\stl_algorithm_and_more.h" ] &&
   [ "$fits" = $((259 - 1 - 41)) ] && [ "$unpack" = $((259 - 8 - 41)) ]'
at_limit=$work/$(printf "%0$((${fits:-0} - ${#work} - 1))d" 0 | tr 0 d)
"$pkgtree" -q expand "$good/source" "$at_limit" 2> /dev/null
expand_rc=$?
"$pkgtree" check "$good" "$at_limit" > "$work/limit.out"
check_rc=$?
check "at the longest FOLDER it names, the package installs and check is content" '[ $expand_rc -eq 0 ] && [ $check_rc -eq 0 ]'
"$pkgtree" -q expand "$good/source" "${at_limit}d" 2> "$work/over-limit.err"
expand_rc=$?
"$pkgtree" check "$good" "${at_limit}d" > "$work/over-limit.out"
check_rc=$?
check "one character more: the engine stops and check exits 1 naming the file" \
  '[ $expand_rc -eq 1 ] && grep -q "Path too long to install" "$work/over-limit.err" && [ $check_rc -eq 1 ] &&
   grep -q "^problem: ${at_limit}d: too long for include\\\\c++\\\\bits\\\\stl_algorithm_and_more.h: " "$work/over-limit.out"'
# A folder gets 247 characters (Windows keeps room for an 8.3 name below
# it), which Wine does not enforce: computed, with a deep empty folder whose
# budget binds before any file's.
folder_of() { printf 'd:\\%s' "$(printf "%0$(($1 - 3))d" 0 | tr 0 g)"; }
cp -r "$good" "$work/deep"
deep=$(printf '%0100d' 0 | tr 0 f)
mkdir "$work/deep/source/$deep"
"$pkgtree" check "$work/deep" "$(folder_of 146)" > "$work/deep.out"
deep_rc=$?
"$pkgtree" check "$work/deep" "$(folder_of 147)" > "$work/deeper.out"
deeper_rc=$?
"$pkgtree" check "$good" "$(folder_of 248)" > "$work/huge.out"
huge_rc=$?
check "folders are held to 247: check names the first folder that does not fit, and a FOLDER too long itself" \
  '[ $deep_rc -eq 0 ] && grep -q "^  install it into a FOLDER of at most 146 characters" "$work/deep.out" &&
   [ $deeper_rc -eq 1 ] && [ "$(grep "^problem" "$work/deeper.out")" = "problem: $(folder_of 147): too long for $deep: installed there it would have 248 characters, over the 247 Windows allows a folder (\"Error: Cannot create subdirectory to install.\")" ] &&
   [ $huge_rc -eq 1 ] && [ "$(grep "^problem" "$work/huge.out")" = "problem: $(folder_of 248): a FOLDER of 248 characters, over the 247 Windows allows a folder: the installer cannot make it" ]'
# What else goes wrong on the user's machine: ";" in the folder, an item
# naming a file the package lacks or a name with a comma (problems); an env
# item without its "\\" or naming a folder the package lacks (warnings).
cp -r "$good" "$work/faulty"
printf 'GCC\n::\n$\\bin\\gcc.exe,GCC, the compiler\n$\\bin\\g++.exe,G++\n::\nGCC\n' > "$work/faulty/inf"
printf 'GCCTEST\nREG_SZ\nc:\\program files\\gccbin;\\nolib;\\lib\n::\n' > "$work/faulty/env"
"$pkgtree" check "$work/faulty" 'd:\a;b' > "$work/faulty.out"
check "a folder holding \";\" is a problem" '[ $? -eq 1 ] && grep -qxF "problem: d:\a;b: holds \";\", which would split it in two on PATH" "$work/faulty.out"'
"$pkgtree" check "$work/faulty" 'd:\gcc' > "$work/faulty.out"
check "check names each fault of inf and env" '[ $? -eq 1 ] && [ "$(grep "^problem\|^warning" "$work/faulty.out")" = "$(cat <<LINES
warning: $work/faulty/env GCCTEST: the item "c:\program files\gccbin" does not start with "\": it becomes d:\gccc:\program files\gccbin
warning: $work/faulty/env GCCTEST: the item "\nolib" names a folder the package does not hold
problem: $work/faulty/inf line 3: the item'"'"'s name holds a comma: the Program Manager takes what follows as a further argument
problem: $work/faulty/inf line 4: the item'"'"'s program \$\bin\g++.exe is not a file of the package
LINES
)" ]'

# Failures: the platform's paths, the caption once, the file named.
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

# Usage errors: status 2, the reason on the first line, then the usage.
usage_case() {  # REASON ARGS...
  local reason=$1; shift
  "$pkgtree" "$@" > /dev/null 2> "$work/usage.err"
  check "usage error $*: exit 2 saying $reason" \
    '[ $? -eq 2 ] && [ "$(head -1 "$work/usage.err")" = "pkgtree: $reason" ] && grep -q "^usage: pkgtree" "$work/usage.err"'
}
usage_case 'unknown verb "frobnicate"' frobnicate a b
usage_case 'expand takes 2 operands, not 1' expand onlyone
usage_case '-j takes a number of jobs from 1 to 1024, not "0"' -j0 expand a b
usage_case 'unknown option "-vq"' -vq expand a b
usage_case 'options stand before the verb: "-v"' expand a b -v
usage_case 'package takes 4 operands, PLAIN ENV INF OUT, not 2' package a b
usage_case '--setup needs a FILE' package --setup
usage_case 'unknown option of package "--frob"' package --frob a b c d
usage_case "package's options stand before its operands: \"--folder\"" package a b c d --folder
"$pkgtree" -q -- copy "$work/plain" "$work/after-dashes" 2> "$work/dashes.err"
check "-- ends the options before the verb" '[ $? -eq 0 ] && diff -r "$work/plain" "$work/after-dashes"'
# After "--" nothing is an option, not even "-v": it is taken as the verb.
"$pkgtree" -- -v copy "$work/plain" "$work/never" > /dev/null 2> "$work/dashes.err"
check "after -- an option is not taken as one" \
  '[ $? -eq 2 ] && [ "$(head -1 "$work/dashes.err")" = "pkgtree: unknown verb \"-v\"" ] && [ ! -e "$work/never" ]'

# Never harms what it was given: each refusal exits 1 with one line naming
# what is wrong, before anything is made; the plain tree stays as it was.
snapshot() { (cd "$work/plain" && find . -printf '%p %s %T@\n' | sort && find . -type f -exec md5sum {} + | sort); }
before=$(snapshot)
mkdir -p "$work/odd/sub" "$work/loop/deep"
ln -s "$work/plain" "$work/alias"
printf 'data\n' > "$work/odd/sub/real.txt"
mkfifo "$work/fifo-tree-fifo" 2>/dev/null; mkdir -p "$work/fifo-tree"; mv "$work/fifo-tree-fifo" "$work/fifo-tree/pipe"
ln -s ../.. "$work/loop/deep/up"
mkdir -p "$work/dangling"; ln -s gone.txt "$work/dangling/link"
mkdir -p "$work/selfloop"; ln -s self "$work/selfloop/self"
while IFS='|' read -r name status line args; do
  eval "set -- $args"
  timeout 60 "$pkgtree" -j 2 "$@" > /dev/null 2> "$work/refusal.err"
  rc=$?
  check "refused: $name" '[ $rc -eq $status ] && [ "$(cat "$work/refusal.err")" = "$line" ] && [ ! -e "$work/made" ] && [ "$(snapshot)" = "$before" ]'
done <<TABLE
same folder|1|pkgtree: $work/plain and $work/plain are the same folder|compress "$work/plain" "$work/plain"
inside it through a link and ..|1|pkgtree: $work/alias and $work/plain/bin/../bin/made overlap: the destination lies inside the source|copy "$work/alias" "$work/plain/bin/../bin/made"
empty source|2|pkgtree: the SOURCE is empty: it names no folder|copy "" "$work/made"
destination inside the source|1|pkgtree: $work/plain and $work/plain/bin/made overlap: the destination lies inside the source|compress "$work/plain" "$work/plain/bin/made"
source inside the destination|1|pkgtree: $work/plain/bin and $work/plain overlap: the source lies inside the destination|copy "$work/plain/bin" "$work/plain"
missing source, named|1|pkgtree: $work/nosuch: Source directory does not exist.|compress "$work/nosuch" "$work/made"
empty destination|2|pkgtree: the DESTINATION is empty: it names no folder|copy "$work/plain" ""
a FIFO|1|pkgtree: $work/fifo-tree/pipe: a FIFO: only files and folders can be packed|compress "$work/fifo-tree" "$work/made"
a link to a folder above|1|pkgtree: $work/loop/deep/up: a link to ../.., a folder that holds the link: it would be followed for ever|copy "$work/loop" "$work/made"
a dangling link|1|pkgtree: $work/dangling/link: a link to gone.txt, which leads nowhere|compress "$work/dangling" "$work/made"
a link to itself|1|pkgtree: $work/selfloop/self: a link to self that cannot be followed: Too many levels of symbolic links|copy "$work/selfloop" "$work/made"
TABLE
# Links into each other's folders: each loop is found where it closes,
# through the other link, not 40 levels down.
mkdir -p "$work/siblings/a" "$work/siblings/b"
ln -s ../b "$work/siblings/a/x" && ln -s ../a "$work/siblings/b/y"
timeout 60 "$pkgtree" compress "$work/siblings" "$work/made" 2> "$work/siblings.err"
check "sibling links into each other's folders: a loop through the other link" '[ $? -eq 1 ] && [ ! -e "$work/made" ] &&
  [ "$(sort "$work/siblings.err")" = "$(sort <<LINES
pkgtree: $work/siblings/a/x/y: a link to ../a: a loop through $work/siblings/a/x: it would be followed for ever
pkgtree: $work/siblings/b/y/x: a link to ../b: a loop through $work/siblings/b/y: it would be followed for ever
LINES
)" ]'
# compress holds the paths below the package root to what installs under
# c:\program files\gcc (20 characters): 238 for a file, 226 for a folder.
# Where the maker keeps the trees does not count.
long_name() { printf "%0$1d" 0 | tr 0 "$2"; }
d100=$(long_name 100 d) g126=$(long_name 126 g) f138=$(long_name 138 f)
mkdir -p "$work/budget/$d100/${g126%g}"
printf 'x' > "$work/budget/$d100/${f138%f}"
far=$work/$(long_name 200 o)/package && mkdir "${far%/package}"
"$pkgtree" -q compress "$work/budget" "$far" && "$pkgtree" -q verify "$far" "$work/budget" > /dev/null
check "paths at the budget pack into a package folder whose own path is long" '[ $? -eq 0 ]'
mkdir "$work/budget/$d100/$g126"
printf 'x' > "$work/budget/$d100/$f138"
"$pkgtree" -q compress "$work/budget" "$work/made" 2> "$work/budget.err"
check "every path one character over is named before anything is made" '[ $? -eq 1 ] && [ ! -e "$work/made" ] &&
  [ "$(sort "$work/budget.err")" = "$(sort <<LINES
pkgtree: $work/budget/$d100/$g126: installed under c:\program files\gcc it would have 248 characters, over the 247 Windows allows a folder
pkgtree: $work/budget/$d100/$f138: installed under c:\program files\gcc it would have 260 characters, over the 259 Windows allows a file
LINES
)" ]'
ln -s sub/real.txt "$work/odd/file-link"
ln -s "$work/odd/sub" "$work/odd/folder-link"
"$pkgtree" compress "$work/odd" "$work/odd-pkg" && "$pkgtree" expand "$work/odd-pkg" "$work/odd-out"
check "a link to a file is packed as the file, a link to a folder elsewhere is followed" \
  '[ -f "$work/odd-out/file-link" ] && [ ! -L "$work/odd-out/file-link" ] && cmp -s "$work/odd-out/file-link" "$work/odd/sub/real.txt" &&
   cmp -s "$work/odd-out/folder-link/real.txt" "$work/odd/sub/real.txt"'
# Links planted in a destination are never followed by expand or copy: a
# folder link and a file link, each leading outside, refused in one line that
# names the link and where it leads, status 1, and what they lead to stays
# byte for byte; the links too. A destination that is itself a link installs.
mkdir -p "$work/victim/bin" "$work/planted/dir" "$work/planted/file/bin"
printf 'victim data\n' > "$work/victim/bin/gcc.exe"
printf 'victim data\n' > "$work/victim/other"
victim() { (cd "$work/victim" && find . -printf '%p %s %T@\n' | sort && md5sum bin/gcc.exe other); }
kept=$(victim)
ln -s "$work/victim/bin" "$work/planted/dir/bin"
ln -s "$work/victim/other" "$work/planted/file/bin/gcc.exe"
for verb in expand copy; do
  from=$work/pkg; [ $verb = copy ] && from=$work/plain
  "$pkgtree" -q -j 2 $verb "$from" "$work/planted/dir" > /dev/null 2> "$work/planted.err"
  check "$verb: a folder link is refused with where it leads" '[ $? -eq 1 ] &&
    [ "$(cat "$work/planted.err")" = "pkgtree: $work/planted/dir/bin: a link to $work/victim/bin: below the destination no link is followed" ]'
  "$pkgtree" -q -j 1 $verb "$from" "$work/planted/file" > /dev/null 2> "$work/planted.err"
  check "$verb: a file link is refused with where it leads" '[ $? -eq 1 ] &&
    [ "$(cat "$work/planted.err")" = "pkgtree: $work/planted/file/bin/gcc.exe: a link to $work/victim/other: below the destination no link is followed" ]'
done
check "what the links lead to is as it was, and they are still links" \
  '[ "$(victim)" = "$kept" ] && [ -L "$work/planted/dir/bin" ] && [ -L "$work/planted/file/bin/gcc.exe" ]'
# The native setup over its stand-ins, into a folder holding a bin link.
mkdir -p "$work/planted/setup" && ln -s "$work/victim/bin" "$work/planted/setup/bin"
(cd "$good" && printf 'click 1\ntype %s\nclick 5\nclick 7\n' "$work/planted/setup" |
  SETUP_MACHINE_REGISTRY="$work/planted.reg" SETUP_USER_REGISTRY="$work/planted-user.reg" "$setup" > /dev/null 2> "$work/planted-setup.err")
check "setup: the bin link is refused with the folder's message, the path as its caption" \
  'grep -qxF "[$work/planted/setup\\bin] Error: Cannot create subdirectory to install." "$work/planted-setup.err" &&
   [ "$(victim)" = "$kept" ] && [ ! -e "$work/planted.reg" ]'
mkdir "$work/real-dest" && ln -s real-dest "$work/linked-dest"
"$pkgtree" -q expand "$work/pkg" "$work/linked-dest"
check "a destination that is itself a link installs" '[ $? -eq 0 ] && diff -r "$work/plain" "$work/real-dest" > /dev/null'
# expand over an installed tree: a package file that cannot be opened leaves
# the old file as it was (run as an unprivileged user, whom chmod stops).
as_user=()
[ "$(id -u)" -ne 0 ] || as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
mkdir -p "$work/over" && cp -r "$work/pkg" "$work/over/pkg" && cp -r "$work/plain" "$work/over/out"
chmod 000 "$work/over/pkg/numbers.txt"
chmod 755 "$work" "$work/over"
[ "$(id -u)" -ne 0 ] || chown -R 65534 "$work/over/out"
"${as_user[@]}" "$pkgtree" -j 1 expand "$work/over/pkg" "$work/over/out" > /dev/null 2> "$work/over.err"
check "an existing file is kept when its package file cannot be opened" \
  '[ $? -eq 1 ] && [ "$(cat "$work/over.err")" = "pkgtree: Open source file $work/over/pkg/numbers.txt: Permission denied" ] &&
   cmp -s "$work/over/out/numbers.txt" "$work/plain/numbers.txt"'
mkdir -p "$work/over/unreadable/sub" && chmod 000 "$work/over/unreadable"
"${as_user[@]}" "$pkgtree" compress "$work/over/unreadable" "$work/over/out/made" > /dev/null 2> "$work/unreadable.err"
check "an unreadable source is named, and nothing is made" \
  '[ $? -eq 1 ] && [ "$(cat "$work/unreadable.err")" = "pkgtree: $work/over/unreadable: a folder that cannot be read: Permission denied" ] && [ ! -e "$work/over/out/made" ]'
chmod 700 "$work" "$work/over/unreadable"
# A report that cannot be written is a failure.
"$pkgtree" verify "$work/pkg" > /dev/full 2> /dev/null
check "verify into a full standard output exits 1" '[ $? -eq 1 ]'
"$pkgtree" -v expand "$work/pkg" "$work/out-closed" >&- 2> /dev/null
check "expand -v with standard output closed exits 1, and its files stay whole" '[ $? -eq 1 ] && diff -r "$work/plain" "$work/out-closed"'

# SIGINT and SIGTERM: no file is started after them, the ones under way are
# removed, one line says what is left, status 130 or 143.
mkdir -p "$work/big"
for i in $(seq 1 24); do head -c 1000000 /dev/urandom > "$work/big/f$i"; done
while read -r jobs sig status verb from; do
  out=$work/stopped-$jobs-$sig-$verb
  "$pkgtree" -j "$jobs" "$verb" "$work/$from" "$out" 2> "$out.err" &
  pid=$!
  # One file more than the jobs begun: the first is whole.
  until [ "$(ls "$out" 2>/dev/null | wc -l)" -gt "$jobs" ] || ! kill -0 $pid 2>/dev/null; do sleep 0.02; done
  kill -"$sig" $pid
  wait $pid
  rc=$?
  ok=1
  for f in "$out"/*; do
    if [ "$verb" = compress ]; then cmp -s <(bzip2 -dc "$f" 2>/dev/null) "$work/big/${f##*/}" || ok=0
    else cmp -s "$f" "$work/big/${f##*/}" || ok=0; fi
  done
  left=$(ls "$out" | wc -l)
  check "-j $jobs $verb stopped by SIG$sig: status $status, $left whole files, one line" \
    '[ $rc -eq $status ] && [ $ok -eq 1 ] && [ "$left" -ge 1 ] && [ "$left" -lt 24 ] && grep -Eqx "pkgtree: stopped by SIG$sig: $out holds $left of the 24 files, each whole; [0-9]+ under way (was|were) removed" "$out.err"'
  [ "$verb" = compress ] && [ "$jobs" = 1 ] && "$pkgtree" -q compress "$work/big" "$work/big-pkg"
done <<RUNS
1 INT 130 compress big
2 TERM 143 compress big
2 INT 130 expand big-pkg
1 HUP 129 copy big
RUNS

# What Windows would do with the names: compress refuses them before it
# writes anything, verify reports each with its path; non-ASCII only warns.
mkdir -p "$work/win/include/linux"
for n in include/linux/xt_CONNMARK.h include/linux/xt_connmark.h NOTES. "SPACE.txt " con.h "a:b.h" "caf$(printf '\303\251').txt"; do
  printf 'x\n' > "$work/win/$n"
done
e=$(printf '\303\251') mangled=$(printf '\303\203\302\251')
sort > "$work/win.expected" <<LINES
pkgtree: $work/win/include/linux/xt_connmark.h: the same name as "xt_CONNMARK.h" when case is ignored: on Windows one overwrites the other
pkgtree: $work/win/NOTES.: a name ending in "." or " ": Windows drops the ending, and the installation stops
pkgtree: $work/win/SPACE.txt : a name ending in "." or " ": Windows drops the ending, and the installation stops
pkgtree: $work/win/con.h: a name the installer refuses (a reserved or control character, or a device name)
pkgtree: $work/win/a:b.h: a name the installer refuses (a reserved or control character, or a device name)
pkgtree: warning: $work/win/caf$e.txt: a name with bytes outside ASCII: Windows reads them in the user's ANSI code page (the UTF-8 "$e" becomes "$mangled" on a Western system)
LINES
"$pkgtree" compress "$work/win" "$work/win-pkg" 2> "$work/win.err"
check "compress refuses what Windows would break, naming each, and makes nothing" '[ $? -eq 1 ] && [ ! -e "$work/win-pkg" ] &&
  sed "s|xt_CONNMARK.h: the same name as .xt_connmark.h.|xt_connmark.h: the same name as \"xt_CONNMARK.h\"|" "$work/win.err" | sort | diff - "$work/win.expected"'
(cd "$work/win" && find . -type f -exec bzip2 -9 {} +)
(cd "$work/win" && find . -name '*.bz2' | while read -r f; do mv "$f" "${f%.bz2}"; done)
"$pkgtree" verify "$work/win" > "$work/win-verify.out"
check "verify of a stock bzip2 package reports the same names, each with its path" '[ $? -eq 1 ] &&
  [ "$(grep -c "^$work/win/" "$work/win-verify.out")" -eq 5 ] && grep -q "^warning: $work/win/caf" "$work/win-verify.out" && grep -qx "verify: 5 problems" "$work/win-verify.out"'
find "$work/win" -maxdepth 1 -type f -delete && rm "$work/win/include/linux/xt_CONNMARK.h"
"$pkgtree" verify "$work/win" > "$work/win-ascii.out"
check "a tree without such names verifies as before" '[ $? -eq 0 ] && grep -qx "verify: all well" "$work/win-ascii.out"'

exit $((failures > 0))
