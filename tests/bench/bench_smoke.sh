#!/usr/bin/env bash
# The bench scripts on tiny trees: they must run through and print every
# figure, so that a broken bench shows in the tests rather than in `make bench`.
#   bench_smoke.sh native BUILD_DIR WORK_DIR
#   bench_smoke.sh wine BUILD_DIR WORK_DIR NATIVE_PKGTREE
set -uo pipefail
mode=$1 build=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
scripts=$here/../../scripts
rm -rf "$work"
mkdir -p "$work"

failures=0
check() {
  if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
# number LINE_PATTERN: the first decimal number after the pattern in out.txt.
number() { sed -n "s/.*$1 *\([0-9][0-9.]*\).*/\1/p" "$work/out.txt" | head -n1; }
positive() { awk -v v="$1" 'BEGIN { exit !(v + 0 > 0) }'; }

case "$mode" in
  native)
    # Nested folders, an empty file and one of several blocks of the library.
    tree=$work/tree
    mkdir -p "$tree/a/b/c" "$tree/d"
    printf 'int x;\n' >"$tree/a/one.h"
    printf '' >"$tree/a/b/empty.txt"
    head -c 2000000 /dev/urandom | od -An -tx1 >"$tree/a/b/c/big.txt"
    for i in $(seq 20); do printf 'file %d\n' "$i" >"$tree/d/f$i.h"; done
    SETUP_BENCH_SETTLE=0 bash "$scripts/bench.sh" "$build" "$tree" >"$work/out.txt" 2>&1
    rc=$?
    cat "$work/out.txt"
    check "bench.sh ended with status 0" '[ $rc -eq 0 ]'
    check "it counted the 23 files of the tree" 'grep -q "^files: 23, " "$work/out.txt"'
    check "it printed the command it measured" 'grep -q "pkgtree -j 1 expand .*/bench-data/package .*/run-N" "$work/out.txt"'
    check "both medians are there" \
      'positive "$(number "pkgtree -j 1 expand (written): *median")" && positive "$(number "pure decode (into memory): *median")"'
    check "the ratio is printed with its target" 'positive "$(number "ratio pkgtree \/ pure decode:")" && grep -q "target <= 1.10" "$work/out.txt"'
    check "pkgtree on one core and on all: identical packages, the expanded tree, verify against the decode" \
      'grep -q "packages identical to each other and to the bench package: yes" "$work/out.txt" &&
       grep -q "tree as the plain one: yes" "$work/out.txt" && positive "$(number "verify median")" &&
       positive "$(number "pure decode median")" &&
       [ "$(grep -c "^pkgtree -j 1 against" "$work/out.txt")" -eq 1 ]'
    check "the package holds one stream per file" '[ "$(find "$build/bench-data/package" -type f | wc -l)" -eq 23 ]'
    check "the expanded copies are gone" '[ ! -e "$build/bench-data/expanded" ]'
    ;;
  wine)
    pkgtree=$4
    bench=$build/wine-session
    # The test run's own bench when it runs (the Makefile starts it).
    [ -f "$bench/env" ] && export SETUP_BENCH_WINE_DIR=$bench
    SETUP_BENCH_PARTS=small SETUP_BENCH_SMALL_FILES=120 SETUP_BENCH_SETTLE=0 \
      bash "$scripts/bench-under-wine.sh" "$build" "$pkgtree" "$work" "$work" "$work/wine" 1 >"$work/out.txt" 2>&1
    rc=$?
    cat "$work/out.txt"
    check "bench-under-wine.sh ended with status 0" '[ $rc -eq 0 ]'
    check "setup.exe installed the 120 small files, timed by the robot's clock" \
      'grep -q "^small files: 120 files" "$work/out.txt" && positive "$(number "  setup.exe")"'
    # On 120 files pkgtree.exe's time is within the noise of Wine's start-up,
    # which is taken off it: its figures may come out at or below zero.
    check "files per second of setup.exe, and pkgtree.exe's figures and their ratio" \
      'positive "$(number "s = ")" && grep -Eq "files/s; pkgtree.exe -?[0-9.]+ s without start-up = -?[0-9]+ files/s; ratio -?[0-9.]+$" "$work/out.txt"'
    check "the robot saw two clock readings, the second later" \
      'tr -d "\r" <"$work/wine/runs/small-setup-1/robot.part" | awk "\$1 == \"clock\" { t[++n] = \$2 } END { exit !(n == 2 && t[2] > t[1]) }"'
    check "the peak memory of setup.exe was measured" 'positive "$(cut -d" " -f2 "$work/wine/small-setup.times")"'
    # The route named is that of the programs timed, and ends the output.
    arch=$(bash "$scripts/windows-arch.sh" --program "$build/bin/setup.exe")
    case "$arch" in
      x86_64) route="bench: x86_64 route: the x86_64 build of the same sources under 64-bit Wine (" ;;
      *) route="bench: i686 route: the i686 build as it ships under 32-bit Wine" ;;
    esac
    check "the summary names the $arch route and gives setup.exe's figure" \
      'tail -n 3 "$work/out.txt" | { IFS= read -r a; IFS= read -r b; IFS= read -r c
         [ "$a" = "summary:" ] && [ "${b#"$route"}" != "$b" ] && [ "${c#"  setup.exe on 120 small files: "}" != "$c" ]; }'
    if [ -f "$bench/env" ]; then
      # shellcheck disable=SC1091
      check "nothing is left in the prefix" '[ ! -e "$(. "$bench/env"; echo "$WINEPREFIX")/drive_c/bench" ]'
    fi
    ;;
  *) echo "usage: bench_smoke.sh native|wine BUILD_DIR WORK_DIR [NATIVE_PKGTREE]" >&2; exit 2 ;;
esac
echo "$failures failed"
[ $failures -eq 0 ]
