#!/usr/bin/env bash
# The demo's second half, after scripts/try.sh has installed the demo
# package (it runs this with its Wine bench up: TRY_BENCH, TRY_WORK,
# TRY_TOOLS, TRY_PICTURES). As a user would: log off and on again, so that
# new programs take their environment from the registry alone, then in a
# console, in a folder of one's own, compile hello.c with gcc found through
# PATH and run it. On the private X server the same is done in a console
# window, saved as a picture.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=imagemagick.sh
. "$here/imagemagick.sh"
bench=${TRY_BENCH:?demo.sh runs under scripts/try.sh} work=${TRY_WORK:?demo.sh runs under scripts/try.sh}
fail() { echo "demo: $*" >&2; exit 1; }

echo "Log off and on again: Wine's server is restarted, and nothing of this script's reaches the new session."
"$here/wine-session.sh" logoff "$bench" || fail "Wine's server did not restart; see $bench/wineserver.log"
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

[ "${TRY_PICTURES:-0}" = 1 ] || exit 0
# The console window: the same commands typed at its prompt (a batch file
# echoes each), pictured once hello.exe is made and has had time to print.
printf '%s\r\n' 'gcc hello.c -o hello.exe' 'hello.exe' >"$folder/compile.bat"
rm -f "$folder/hello.exe"
(cd "$folder" && exec wine wineconsole cmd /k compile.bat </dev/null >"$work/wineconsole.out" 2>&1) &
for _ in $(seq 300); do [ -f "$folder/hello.exe" ] && break; sleep 0.1; done
[ -f "$folder/hello.exe" ] || fail "the console window made no hello.exe; see $work/wineconsole.out"
sleep 2
picture=$work/5-compiled.png
wine "$TRY_TOOLS/robot.exe" window:WineConsoleClass winrect </dev/null >"$work/console-robot.part" 2>&1
status=$?
tr -d '\r' <"$work/console-robot.part" >"$work/console-robot.out"
[ $status -eq 0 ] || fail "no console window: $(head -n1 "$work/console-robot.out")"
"$(imagemagick import)" -window root "$picture" >"$work/import.out" 2>&1 || fail "no picture of the console: $(head -n1 "$work/import.out")"
why=$(crop_to_window "$work/console-robot.out" "$picture") || fail "$why"
echo "The console window, as a picture: $picture"
