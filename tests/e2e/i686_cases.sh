#!/usr/bin/env bash
# The 32-bit programs as they ship, run under 32-bit Wine in a session of
# their own: the end-to-end cases `demo` and `compile-through-path` (setup.exe
# installs the demo package, driven by the robot, with the Program Manager
# stand-in; the installed compiler found through PATH after a log off; a
# second run proposes the installed folder) and pkgtree.exe's package,
# verify and expand (package_on_windows.sh).
#   i686_cases.sh TOOLS_DIR DEMO_DIR WORK_DIR
# TOOLS_DIR holds setup.exe, pkgtree.exe, robot.exe and progman_standin.exe,
# all i686; DEMO_DIR the demo's plain tree and its package. Ends with
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
for program in "$tools"/{setup,pkgtree,robot,progman_standin}.exe "$demo/package/setup.exe" "$demo/plain/bin/gcc.exe"; do
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

# run_case NAME CMD...: runs one case and counts its "ok:" and "FAILED:" lines.
run_case() {
  local name=$1 status ok bad
  shift
  echo "== $name"
  "$@" >"$work/$name.log" 2>&1
  status=$?
  cat "$work/$name.log"
  ok=$(grep -c '^ok: ' "$work/$name.log")
  bad=$(grep -c '^FAILED: ' "$work/$name.log")
  if [ "$status" -ne 0 ] && [ "$bad" -eq 0 ]; then
    echo "FAILED: $name ended with status $status"
    bad=1
  fi
  passed=$((passed + ok)) failed=$((failed + bad))
}
for name in demo compile-through-path; do
  run_case "$name" bash "$here/e2e_cases.sh" "$name" "$session" "$tools" "$demo" "$work/e2e"
done
run_case pkgtree-package bash "$here/package_on_windows.sh" "$session" "$tools" "$work/pkgtree-package"
finish
