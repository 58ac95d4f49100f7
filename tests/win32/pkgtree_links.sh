#!/usr/bin/env bash
# pkgtree.exe's link audit under Wine, which shows a Unix symbolic link to a
# folder as a reparse point (Wine 8 makes no junction or Windows symbolic
# link): links are taken as the native pkgtree takes them. A link to a file
# is packed as the file, one to a folder elsewhere is followed; one that
# leads back to a folder open on the walk (itself, one above it, or one
# reached through another link) or into the destination is refused by name
# before anything is made. In a destination no link is followed: expand
# into a folder holding a planted link to a folder outside is refused, the
# link named with where it leads, and what it leads to stays as it was.
#   pkgtree_links.sh PKGTREE_EXE WINE_ENV BENCH_DIR
set -uo pipefail
windows=$1 wine_env=$2 bench=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/pkgtree-links.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }
compress() {  # CASE: pkgtree.exe compress src dst in $work/CASE
  (cd "$work/$1" && "$wine_env" "$bench" "$windows" -q compress src dst) >"$work/$1.out" 2>"$work/$1.err" </dev/null
  status=$?
  tr -d '\r' <"$work/$1.err" >"$work/$1.txt"
}
refused() {  # CASE LINK TEXT: exit 1, the link named with TEXT, nothing made
  local name=$1 link=$2 text=$3
  check "$name: exit 1" '[ $status -eq 1 ]'
  check "$name: $link is refused: $text" 'grep -q "^pkgtree: src.$link: a link to .*$text" "$work/$name.txt"'
  check "$name: no destination is made" '[ ! -e "$work/$name/dst" ]'
  [ $failures -eq 0 ] || cat "$work/$name.txt"
}

# Followed: a folder and a file elsewhere, reached through links.
mkdir -p "$work/followed/src/bin" "$work/followed/shared/lib"
printf 'kept\n' >"$work/followed/shared/lib/one.txt"
printf 'tool\n' >"$work/followed/src/bin/tool"
ln -s ../shared/lib "$work/followed/src/lib"
ln -s ../../shared/lib/one.txt "$work/followed/src/bin/one.txt"
compress followed
check "followed: exit 0" '[ $status -eq 0 ]'
check "followed: the folder and the file are packed as they are" \
  '[ "$(cd "$work/followed/dst" && find . -type f | sort | tr "\n" " ")" = "./bin/one.txt ./bin/tool ./lib/one.txt " ] &&
   [ "$(bzip2 -dc "$work/followed/dst/lib/one.txt")" = kept ]'
[ $failures -eq 0 ] || cat "$work/followed.txt"

# Two siblings that lead to each other: neither is above the other, but
# each is open on the walk when the other is reached through it.
mkdir -p "$work/siblings/src/a" "$work/siblings/src/b"
printf 'a\n' >"$work/siblings/src/a/file"
printf 'b\n' >"$work/siblings/src/b/file"
ln -s ../b "$work/siblings/src/a/x"
ln -s ../a "$work/siblings/src/b/y"
compress siblings
refused siblings 'a.x.y' ': a loop through src.a.x: it would be followed for ever'
refused siblings 'b.y.x' ': a loop through src.b.y: it would be followed for ever'

# Into the destination, which exists already.
mkdir -p "$work/into/src" "$work/into/dst"
printf 'x\n' >"$work/into/src/file"
ln -s ../dst "$work/into/src/out"
compress into
check "into: exit 1" '[ $status -eq 1 ]'
check "into: the link is refused: it leads into the destination" \
  'grep -q "^pkgtree: src.out: a link to .*, which holds or lies inside the destination" "$work/into.txt"'
check "into: nothing is written into the destination" '[ -z "$(ls -A "$work/into/dst")" ]'
[ $failures -eq 0 ] || cat "$work/into.txt"
# A destination holding bin as a link to a folder outside it.
mkdir -p "$work/planted/pkg/bin" "$work/planted/dst" "$work/planted/outside"
printf 'package\n' | bzip2 -9 >"$work/planted/pkg/bin/gcc.exe"
printf 'victim data\n' >"$work/planted/outside/gcc.exe"
ln -s ../outside "$work/planted/dst/bin"
(cd "$work/planted" && "$wine_env" "$bench" "$windows" -q expand pkg dst) >"$work/planted.out" 2>"$work/planted.err" </dev/null
status=$?
tr -d '\r' <"$work/planted.err" >"$work/planted.txt"
check "planted: exit 1" '[ $status -eq 1 ]'
check "planted: the link is named with where it leads" \
  'grep -qx "pkgtree: dst.bin: a link to .*outside: below the destination no link is followed" "$work/planted.txt"'
check "planted: the file outside is as it was, the link still a link" \
  '[ "$(cat "$work/planted/outside/gcc.exe")" = "victim data" ] && [ "$(ls "$work/planted/outside")" = gcc.exe ] && [ -L "$work/planted/dst/bin" ]'
[ $failures -eq 0 ] || cat "$work/planted.txt"
exit $((failures > 0))
