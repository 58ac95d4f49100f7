#!/usr/bin/env bash
# pkgtree.exe package under Wine as a package maker on Windows runs it: the
# programs side by side as the zip of `make dist` lays them out, a tree in a
# Windows folder; then that package's setup.exe installs it, driven by the robot.
#   package_on_windows.sh BENCH_DIR TOOLS_DIR WORK_DIR
set -uo pipefail
bench=$1 tools=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC1091
. "$bench/env"
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }

maker=$WINEPREFIX/drive_c/maker installed=$WINEPREFIX/drive_c/fromwin
rm -rf "$work" "$maker" "$installed"
mkdir -p "$work" "$maker/plain/bin" "$maker/plain/lib/empty" "$maker/plain/include/sys"
cp "$tools/pkgtree.exe" "$tools/setup.exe" "$maker/"
# Any Windows program stands in for the compiler here.
cp "$tools/progman_standin.exe" "$maker/plain/bin/gcc.exe"
head -c 200000 /dev/urandom >"$maker/plain/lib/libdemo.a"
for i in $(seq 1 30); do seq "$i" 500 >"$maker/plain/include/sys/h$i.h"; done
printf 'PATH\r\nREG_EXPAND_SZ\r\n\\bin\r\n::\r\n' >"$maker/env"
printf 'GCC From Windows\r\n::\r\n$\\bin\\gcc.exe,Compiler\r\n::\r\nGCC From Windows\r\n' >"$maker/inf"

# Only the stand-in may answer: the prefix's own server fails on empty arguments.
wine "$tools/robot.exe" silence-progman </dev/null >"$work/silence.out" 2>&1
( cd "$maker" && wine pkgtree.exe package 'C:\maker\plain' 'C:\maker\env' 'C:\maker\inf' 'C:\maker\package' \
    </dev/null >"$work/package.out" 2>"$work/package.err" )
status=$?
tr -d '\r' <"$work/package.out" >"$work/package.txt"
check "pkgtree.exe package ends with status 0 and says the package is ready" \
  '[ $status -eq 0 ] && grep -q "^== ready to ship: C:.maker.package" "$work/package.txt"'
check "the package's setup.exe is the one beside pkgtree.exe" 'cmp -s "$maker/setup.exe" "$maker/package/setup.exe"'
check "no staging folder is left beside the package" '[ "$(ls "$maker")" = "$(printf "env\ninf\npackage\npkgtree.exe\nplain\nsetup.exe")" ]'
( cd "$maker" && wine pkgtree.exe verify 'C:\maker\package\source' 'C:\maker\plain' </dev/null >"$work/verify.out" 2>&1 )
status=$?
check "pkgtree.exe verify finds the package sound and equal to the plain tree" '[ $status -eq 0 ]'
( cd "$maker" && wine pkgtree.exe expand 'C:\maker\package\source' 'C:\maker\expanded' </dev/null >"$work/expand.out" 2>&1 )
status=$?
check "pkgtree.exe expand gives back the plain tree, byte for byte" \
  '[ $status -eq 0 ] && diff -r "$maker/plain" "$maker/expanded" >/dev/null'

bash "$here/run-setup.sh" "$bench" "$tools" "$maker/package" "$work/run" \
  window:nv_gfortran click:1 wait:5 'settext:4:C:\fromwin' click:5 wait:7 click:7 gone
rc=$?
check "its setup.exe installs it, through Finish" '[ $rc -eq 0 ] && [ "$(cat "$work/run/setup.status")" = 0 ]'
check "the installed tree is the plain tree, byte for byte" 'diff -r "$maker/plain" "$installed" >/dev/null'
check "the Program Manager received the package's group" \
  'grep -qF "[AddItem(C:\\fromwin\\bin\\gcc.exe,Compiler)]" "$work/run/executes.txt"'
if [ $failures -gt 0 ]; then
  echo "--- pkgtree.exe output"; cat "$work/package.txt" "$work/package.err" "$work/verify.out" "$work/expand.out" 2>/dev/null
  echo "--- robot.out"; cat "$work/run/robot.out" 2>/dev/null
fi
echo "$((failures == 0 ? 1 : 0)) passed, $((failures > 0 ? 1 : 0)) failed"
exit $((failures > 0))
