#!/usr/bin/env bash
# A package file whose Linux name holds "\" ("..\..\slipped.txt") would be
# joined into a path two folders above the destination. The native pkgtree
# and pkgtree.exe under Wine must each refuse it by name, with exit 1, and
# neither create nor empty anything outside the destination.
#   pkgtree_hostile_name.sh NATIVE_PKGTREE PKGTREE_EXE WINE_ENV BENCH_DIR
set -uo pipefail
native=$1 windows=$2 wine_env=$3 bench=$4
command -v bzip2 >/dev/null || { echo "FAILED: bzip2 is missing"; exit 1; }
[ -x "$native" ] || { echo "FAILED: no native pkgtree at $native: build the native tree first"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/pkgtree-hostile.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }

mkdir -p "$work/pkg/source"
printf 'payload\n' | bzip2 -9 >"$work/pkg/source/..\..\slipped.txt"
for build in native windows; do
  top=$work/$build
  mkdir -p "$top/mid"
  printf 'the user%s own\n' "'s" >"$top/slipped.txt"
  # From the destination's parent: DESTINATION\..\.. is $top.
  if [ $build = native ]; then
    (cd "$top/mid" && "$native" expand ../../pkg/source dst) >"$top.out" 2>"$top.err" </dev/null
  else
    (cd "$top/mid" && "$wine_env" "$bench" "$windows" expand '..\..\pkg\source' dst) >"$top.out" 2>"$top.err" </dev/null
  fi
  status=$?
  check "$build: exit 1" '[ $status -eq 1 ]'
  check "$build: the message names the entry" \
    'grep -q "Invalid name in package folder .*slipped\.txt" "$top.err"'
  # The folder as the platform writes it, the refused name as it stands.
  [ $build = windows ] || check "native: the name is shown as it is" \
    '[ "$(cat "$top.err")" = "pkgtree: Invalid name in package folder ../../pkg/source: \"..\\..\\slipped.txt\"" ]'
  check "$build: the file two folders up is as it was" '[ "$(cat "$top/slipped.txt")" = "the user'"'"'s own" ]'
  check "$build: only the destination is made, empty" \
    '[ "$(cd "$top" && find . -mindepth 1 | sort | tr "\n" " ")" = "./mid ./mid/dst ./slipped.txt " ]'
  [ $failures -eq 0 ] || { echo "--- $build stderr"; cat "$top.err"; }
done
check "nothing is made beside the runs" '[ "$(cd "$work" && ls | tr "\n" " ")" = "native native.err native.out pkg windows windows.err windows.out " ]'
exit $((failures > 0))
