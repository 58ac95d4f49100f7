#!/usr/bin/env bash
# The 32-bit programs as they ship, run under 32-bit Wine in a session of
# their own: the end-to-end cases `demo` and `compile-through-path` (setup.exe
# installs the demo package, the demo's through its one file, driven by the robot, with the Program Manager
# stand-in; the installed compiler found through PATH after a log off; a
# second run proposes the installed folder), `uninstall` (the package made
# with uninstall.exe, signed, installed, then removed by it) and pkgtree.exe's
# package, verify and expand (package_on_windows.sh).
#   i686_cases.sh TOOLS_DIR DEMO_DIR WORK_DIR
# TOOLS_DIR holds setup.exe, uninstall.exe, pkgtree.exe, robot.exe and
# progman_standin.exe, all i686; DEMO_DIR the demo's plain tree and its
# packages, without and with uninstall.exe, and one-file/gcc-demo.exe, the
# first as one file. Ends with
# "i686: N passed, N failed", N counting checks; a case that ends without
# saying which of its checks failed counts as one failed check.
set -uo pipefail
[ $# -eq 3 ] || { echo "usage: i686_cases.sh TOOLS_DIR DEMO_DIR WORK_DIR" >&2; exit 2; }
tools=$1 demo=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
scripts=$here/../../scripts
mkdir -p "$work"
work=$(cd "$work" && pwd)
passed=0 failed=0
finish() {
  echo "i686: $passed passed, $failed failed"
  exit $((failed > 0))
}

# Only 32-bit programs count here: an x86_64 one would pass for what ships.
wrong=""
for program in "$tools"/{setup,uninstall,pkgtree,robot,progman_standin}.exe "$demo"/{package,uninstaller-package}/setup.exe \
  "$demo/plain/bin/gcc.exe" "$demo/one-file/gcc-demo.exe"; do
  [ "$("$scripts/windows-arch.sh" --program "$program" 2>&1)" = i686 ] || wrong="$wrong $program"
done
if [ -z "$wrong" ]; then
  echo "ok: every program run here is an i686 build"; passed=$((passed + 1))
else
  echo "FAILED: not i686 builds:$wrong"; failed=$((failed + 1)); finish
fi

session=$work/session
if ! "$scripts/wine-session.sh" start "$session" i686 >"$work/session.out" 2>&1; then
  echo "FAILED: no 32-bit Wine session: $(tail -n1 "$work/session.out")"
  failed=$((failed + 1)); finish
fi
trap '"$scripts/wine-session.sh" stop "$session" >/dev/null 2>&1' EXIT
echo "the Wine session started in $SECONDS s"

# run NAME CMD...: one case, its output in WORK/NAME.log, its status in WORK/NAME.status.
run() {
  local name=$1
  shift
  "$@" >"$work/$name.log" 2>&1
  echo $? >"$work/$name.status"
}
# tally NAME: shows a case's output and counts its "ok:" and "FAILED:" lines.
tally() {
  local name=$1 status ok bad
  echo "== $name"
  cat "$work/$name.log"
  status=$(cat "$work/$name.status" 2>/dev/null || echo "unknown")
  ok=$(grep -c '^ok: ' "$work/$name.log")
  bad=$(grep -c '^FAILED: ' "$work/$name.log")
  if [ "$status" != 0 ] && [ "$bad" -eq 0 ]; then
    echo "FAILED: $name ended with status $status"
    bad=1
  fi
  passed=$((passed + ok)) failed=$((failed + bad))
}
# compile-through-path logs off, so it has a Wine session (and a desktop) of
# its own: it runs beside the other two, which take turns on this one's.
run compile-through-path bash "$here/e2e_cases.sh" compile-through-path "$session" "$tools" "$demo" "$work/e2e" &
beside=$!
# The demo is installed through its one file: the shipped unpacker.exe
# unpacks it and starts setup.exe.
run demo env SETUP_E2E_ONE_FILE="$demo/one-file/gcc-demo.exe" bash "$here/e2e_cases.sh" demo "$session" "$tools" "$demo" "$work/e2e"
tally demo
run pkgtree-package bash "$here/package_on_windows.sh" "$session" "$tools" "$work/pkgtree-package"
tally pkgtree-package
run uninstall bash "$here/e2e_cases.sh" uninstall "$session" "$tools" "$demo" "$work/e2e"
tally uninstall
wait "$beside"
tally compile-through-path
finish
