#!/usr/bin/env bash
# Runs the tests that start threads (whole native runs of setup: UI thread,
# loader, animator, script reader and stand-in group server; the same of the
# uninstaller with its worker; the status line
# and bar guards; the fault runs; pkgtree's workers, its progress line and
# its stop after a failure) from a ThreadSanitizer build. Every report,
# from the test programs or from the setup processes they start, lands in
# one folder: any report fails the stage, whatever the test itself checked.
#   scripts/tsan-test.sh TSAN_BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
reports=$build/tsan-reports
rm -rf "$reports"
mkdir -p "$reports"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 log_path=$reports/report"
failures=0
for t in shell_tests shell_run_tests faults_tests uninstall_run_tests; do
  if "$build/bin/$t" > "$build/$t.log" 2>&1; then
    echo "$t: $(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' "$build/$t.log"), passed"
  else
    echo "$t: FAILED; log:"
    tail -40 "$build/$t.log"
    failures=$((failures + 1))
  fi
done
here=$(cd "$(dirname "$0")" && pwd)
if bash "$here/../tests/engine/pkgtree_test.sh" "$build/bin/pkgtree" > "$build/pkgtree_cli.log" 2>&1; then
  echo "pkgtree_cli: $(grep -c '^ok:' "$build/pkgtree_cli.log") checks on several jobs, passed"
else
  echo "pkgtree_cli: FAILED; log:"
  tail -40 "$build/pkgtree_cli.log"
  failures=$((failures + 1))
fi
if compgen -G "$reports/report*" > /dev/null; then
  echo "ThreadSanitizer reports:"
  cat "$reports"/report*
  failures=$((failures + 1))
else
  echo "no ThreadSanitizer report"
fi
exit $((failures > 0))
