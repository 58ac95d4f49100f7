#!/usr/bin/env bash
# pkgtree.exe package --uninstaller under Wine as a package maker on Windows
# runs it: the programs side by side as the zip of `make dist` lays them out,
# a tree in a Windows folder; then that package's setup.exe installs it,
# driven by the robot. Then runs that fail (a file that cannot be read, a
# problem check finds, a signing command that breaks setup.exe, Ctrl-C) must
# each leave that package as it was.
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
# Names with a space: the steps' own process gets them on its command line.
plain="$maker/plain tree"
mkdir -p "$work" "$plain/bin" "$plain/lib/empty" "$plain/include/sys"
cp "$tools/pkgtree.exe" "$tools/setup.exe" "$tools/uninstall.exe" "$maker/"
# Any Windows program stands in for the compiler here.
cp "$tools/progman_standin.exe" "$plain/bin/gcc.exe"
head -c 200000 /dev/urandom >"$plain/lib/libdemo.a"
for i in $(seq 1 30); do seq "$i" 500 >"$plain/include/sys/h$i.h"; done
printf 'PATH\r\nREG_EXPAND_SZ\r\n\\bin\r\n::\r\n' >"$maker/env"
printf 'GCC From Windows\r\n::\r\n$\\bin\\gcc.exe,Compiler\r\n::\r\nGCC From Windows\r\n' >"$maker/inf"

# Only the stand-in may answer: the prefix's own server fails on empty arguments.
wine "$tools/robot.exe" silence-progman </dev/null >"$work/silence.out" 2>&1
# Where the kernel runs no 32-bit programs these are x86_64 builds: pkgtree.exe
# refuses that setup.exe for a package to ship, and takes it for this test
# package only when told so.
any_setup=()
if [ "$("$here/../../scripts/windows-arch.sh" --program "$maker/setup.exe")" != i686 ]; then
  ( cd "$maker" && wine pkgtree.exe package 'C:\maker\plain tree' 'C:\maker\env' 'C:\maker\inf' 'C:\maker\package' \
      </dev/null >/dev/null 2>"$work/refused.err" )
  status=$?
  check "pkgtree.exe package refuses the x86_64 setup.exe beside it, saying why, and makes nothing" \
    '[ $status -eq 1 ] && grep -q "an x86_64 Windows program (machine 0x8664); the package needs a 32-bit Windows program" "$work/refused.err" &&
     [ ! -e "$maker/package" ]'
  any_setup=(--any-setup)
fi
( cd "$maker" && wine pkgtree.exe package "${any_setup[@]}" --uninstaller 'C:\maker\plain tree' 'C:\maker\env' 'C:\maker\inf' 'C:\maker\package' \
    </dev/null >"$work/package.out" 2>"$work/package.err" )
status=$?
tr -d '\r' <"$work/package.out" >"$work/package.txt"
check "pkgtree.exe package ends with status 0 and says the package is ready" \
  '[ $status -eq 0 ] && grep -q "^== ready to ship: C:.maker.package" "$work/package.txt"'
check "the package's setup.exe is the one beside pkgtree.exe" 'cmp -s "$maker/setup.exe" "$maker/package/setup.exe"'
check "no staging folder is left beside the package" \
  '[ "$(ls "$maker")" = "$(printf "env\ninf\npackage\npkgtree.exe\nplain tree\nsetup.exe\nuninstall.exe")" ]'
( cd "$maker" && wine pkgtree.exe verify 'C:\maker\package\source' </dev/null >"$work/verify.out" 2>&1 )
status=$?
check "pkgtree.exe verify finds the package sound" '[ $status -eq 0 ]'
( cd "$maker" && wine pkgtree.exe expand 'C:\maker\package\source' 'C:\maker\expanded' </dev/null >"$work/expand.out" 2>&1 )
status=$?
check "pkgtree.exe expand gives back the plain tree byte for byte, and uninstall.exe" \
  '[ $status -eq 0 ] && diff -r -x uninstall.exe -x uninstall.lst "$plain" "$maker/expanded" >/dev/null &&
   cmp -s "$maker/uninstall.exe" "$maker/expanded/uninstall.exe"'
rm -rf "$maker/expanded"

bash "$here/run-setup.sh" "$bench" "$tools" "$maker/package" "$work/run" \
  window:nv_gfortran click:1 wait:5 'settext:4:C:\fromwin' click:5 wait:7 click:7 gone
rc=$?
check "its setup.exe installs it, through Finish" '[ $rc -eq 0 ] && [ "$(cat "$work/run/setup.status")" = 0 ]'
check "the installed tree is the plain tree, byte for byte, with uninstall.exe from beside pkgtree.exe and its list" \
  'diff -r -x uninstall.exe -x uninstall.lst "$plain" "$installed" >/dev/null &&
   cmp -s "$maker/uninstall.exe" "$installed/uninstall.exe" && grep -qx "group GCC From Windows" "$installed/uninstall.lst"'
check "the Program Manager received the package's group" \
  'grep -qF "[AddItem(C:\\fromwin\\bin\\gcc.exe,Compiler)][AddItem(C:\\fromwin\\uninstall.exe,Uninstall GCC From Windows)]" "$work/run/executes.txt"'
if [ $failures -gt 0 ]; then
  echo "--- pkgtree.exe output"; cat "$work/package.txt" "$work/package.err" "$work/verify.out" "$work/expand.out" 2>/dev/null
  echo "--- robot.out"; cat "$work/run/robot.out" 2>/dev/null
fi

# A failed run: its status, the staging folder gone, the package of the run
# above byte for byte as it was, and the line that says so.
cp -a "$maker/package" "$work/package.before"
failed_run() {  # NAME STATUS: after a run whose output is in $work/NAME.out and .err
  local name=$1 expected=$2
  tr -d '\r' <"$work/$name.err" >"$work/$name.txt"
  check "$name: status $expected" '[ "$status" = "$expected" ]'
  check "$name: no staging folder is left" '! ls -d "$maker"/package.pkgtree-* >/dev/null 2>&1'
  check "$name: the earlier package is as it was" 'diff -r "$work/package.before" "$maker/package" >/dev/null'
  check "$name: says nothing was replaced" \
    'grep -qx "pkgtree: nothing replaced: C:.maker.package is as it was" "$work/$name.txt"'
  [ $failures -eq 0 ] || { echo "--- $name"; cat "$work/$name.out" "$work/$name.txt"; }
}
package_into_place() {  # NAME PLAIN INF [PACKAGE_OPTION...]: pkgtree.exe package into C:\maker\package
  local name=$1 plain_arg=$2 inf_arg=$3
  shift 3
  ( cd "$maker" && wine pkgtree.exe package "${any_setup[@]}" "$@" "$plain_arg" 'C:\maker\env' "$inf_arg" 'C:\maker\package' \
      </dev/null >"$work/$name.out" 2>"$work/$name.err" )
}

# A file that cannot be read ends the compress step at once.
cp -a "$plain" "$maker/unreadable"
chmod 000 "$maker/unreadable/lib/libdemo.a"
package_into_place unreadable 'C:\maker\unreadable' 'C:\maker\inf'
status=$?
failed_run unreadable 1
check "unreadable: the engine's message names the file" 'grep -q "unreadable.lib.libdemo.a" "$work/unreadable.txt"'
chmod 644 "$maker/unreadable/lib/libdemo.a"

# check, the last step, finds a problem: the whole package was made by then.
printf 'GCC From Windows\r\n::\r\n$\\bin\\missing.exe,Compiler\r\n::\r\nGCC From Windows\r\n' >"$maker/bad.inf"
package_into_place check-problem 'C:\maker\plain tree' 'C:\maker\bad.inf'
status=$?
failed_run check-problem 1
check "check-problem: check named the missing program" 'grep -q "missing.exe is not a file of the package" "$work/check-problem.out"'

# --sign: cmd.exe runs the command, with {} the staging folder's setup.exe,
# in the steps' own process; what it left is checked.
package_into_place sign-breaks 'C:\maker\plain tree' 'C:\maker\inf' --sign 'type nul > {}'
status=$?
failed_run sign-breaks 1
check "sign-breaks: the command emptied the staging folder's copy, which is refused" \
  'grep -qx "pkgtree: signing setup.exe: the command left it broken: an empty file, not a Windows program" "$work/sign-breaks.txt" &&
   cmp -s "$maker/setup.exe" "$tools/setup.exe"'

# Ctrl-C while the first file is compressed: the steps' process removes it
# and says what is left; the waiting one removes the staging folder.
mkdir "$maker/unreadable/big"
for i in 1 2 3; do head -c 1000000 /dev/urandom >"$maker/unreadable/big/$i.bin"; done
wine "$tools/robot.exe" interrupt 'C:\maker\package.pkgtree-0\source\big' 'C:\maker\interrupted.out' \
  'C:\maker\interrupted.err' 'C:\maker\pkgtree.exe' -q -j 1 package "${any_setup[@]}" 'C:\maker\unreadable' 'C:\maker\env' \
  'C:\maker\inf' 'C:\maker\package' </dev/null >"$work/interrupt.robot" 2>&1
mv "$maker/interrupted.out" "$maker/interrupted.err" "$work/" 2>/dev/null
status=$(sed -n 's/^exit //p' "$work/interrupt.robot" | tr -d '\r')
failed_run interrupted 130
check "interrupted: the steps said what they left, the file under way removed" \
  'grep -Eq "^pkgtree: stopped by Ctrl-C: .* holds [0-9]+ of the [0-9]+ files, each whole; 1 under way was removed$" "$work/interrupted.txt"'
[ $failures -eq 0 ] || { echo "--- robot"; cat "$work/interrupt.robot"; }

# The one file, with unpacker.exe beside pkgtree.exe as the zip lays them
# out: made twice, the second over the first; then read back by verify.
# The emulated machine's root has no unzip: there pkgtree.exe verify, which
# reads every entry and its CRC-32, is the reading; elsewhere unzip too.
unzip_tests() {
  if command -v unzip >/dev/null; then unzip -tq "$1" >/dev/null
  elif [ -f /payload/tools/robot.exe ]; then echo "unzip: not in the emulated machine; verify reads the file"
  else echo "unzip is missing (scripts/install-deps.sh installs it)"; return 1; fi
}
cp "$tools/unpacker.exe" "$maker/"
one_file() {  # NAME
  ( cd "$maker" && wine pkgtree.exe package "${any_setup[@]}" --one-file 'C:\maker\plain tree' 'C:\maker\env' 'C:\maker\inf' \
      'C:\maker\gcc-one.exe' </dev/null >"$work/$1.out" 2>&1 )
}
one_file one-file && one_file one-file-again
status=$?
( cd "$maker" && wine pkgtree.exe verify 'C:\maker\gcc-one.exe' </dev/null >"$work/one-check.out" 2>&1 )
check_status=$?
check "pkgtree.exe package --one-file, twice over one FILE: unpacker.exe at its head, unzip tests it, verify reads it" \
  '[ $status -eq 0 ] && [ $check_status -eq 0 ] && ! ls -d "$maker"/gcc-one.exe.pkgtree-* >/dev/null 2>&1 &&
   cmp -s -n "$(stat -c %s "$maker/unpacker.exe")" "$maker/unpacker.exe" "$maker/gcc-one.exe" &&
   unzip_tests "$maker/gcc-one.exe" && tr -d "\r" <"$work/one-check.out" | grep -qx "verify: all well"'
[ $failures -eq 0 ] || cat "$work/one-file.out" "$work/one-file-again.out" "$work/one-check.out"
echo "$((failures == 0 ? 1 : 0)) passed, $((failures > 0 ? 1 : 0)) failed"
exit $((failures > 0))
