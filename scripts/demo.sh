#!/usr/bin/env bash
# The demo's second half, after scripts/try.sh has installed the demo
# package (it runs this with its Wine bench up: TRY_BENCH, TRY_WORK). As a
# user would: log off and on again, so that new programs take their
# environment from the registry alone, then in a console, in a folder of
# one's own, compile hello.c with gcc found through PATH and run it.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bench=${TRY_BENCH:?demo.sh runs under scripts/try.sh} work=${TRY_WORK:?demo.sh runs under scripts/try.sh}
fail() { echo "demo: $*" >&2; exit 1; }

echo "Log off and on again: Wine's server is restarted, and nothing of this script's reaches the new session."
"$here/wine-bench.sh" logoff "$bench" || fail "Wine's server did not restart; see $bench/wineserver.log"
# shellcheck disable=SC1091
. "$bench/env"
folder=$WINEPREFIX/drive_c/hello
mkdir -p "$folder"
cat >"$folder/hello.c" <<'C'
#include <stdio.h>

int main(void) {
  printf("Hello from the compiler the setup program installed.\n");
  return 0;
}
C
echo "A console in C:\\hello, which holds hello.c:"
# Each command as typed at the prompt, then what the console showed.
console() {
  echo "C:\\hello> $*"
  (cd "$folder" && wine cmd /c "$@" </dev/null >"$work/console.out" 2>&1)
  local rc=$?
  tr -d '\r' <"$work/console.out" | sed 's/^/  /'
  return $rc
}
console gcc -v || fail "gcc was not found through PATH in the new session"
console gcc hello.c -o hello.exe || fail "gcc did not compile hello.c"
console hello.exe || fail "hello.exe did not run"
grep -q '^Hello from the compiler' "$work/console.out" || fail "hello.exe did not print its greeting"
