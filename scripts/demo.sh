#!/usr/bin/env bash
# The demo's second half, after scripts/try.sh has installed the demo
# package (it runs this with its Wine bench up: TRY_BENCH, TRY_WORK,
# TRY_TOOLS, TRY_PICTURES). As a user would: log off and on again, so that
# new programs take their environment from the registry alone, then in a
# console, in a folder of one's own, compile hello.c with gcc found through
# PATH and run it. On the private X server the same is done in a console
# window, saved as a picture. Last, as an administrator would, it removes the
# compiler with the package's uninstall.exe /S and shows what went and the
# PATH afterwards: the status is 1 unless all of it went and PATH is as it
# was before the install.
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

# The console window: the same commands typed at its prompt (a batch file
# echoes each), pictured once hello.exe is made and has had time to print.
console_picture() {
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
}
[ "${TRY_PICTURES:-0}" = 1 ] && console_picture

# The removal. The installed folder is the one the folder box held at Install.
installed_folder=$(sed -n 's/^text 4 //p' "$work/robot.out" | tail -n1)
installed=$(winepath -u "$installed_folder" 2>/dev/null)
[ -n "$installed_folder" ] && [ -f "$installed/uninstall.exe" ] || fail "no uninstall.exe in the installed folder '$installed_folder'"
files=$(find "$installed" -type f | wc -l) folders=$(find "$installed" -mindepth 1 -type d | wc -l)
echo "Removing the compiler from $installed_folder ($files files, $folders folders), as an administrator would:"
# Only the stand-in may answer the group's removal, as at the install.
wine "$TRY_TOOLS/robot.exe" silence-progman </dev/null >"$work/silence-again.out" 2>&1
rm -f "$work/deletes.txt" "$work/deletes.ready"
wine "$TRY_TOOLS/progman_standin.exe" "$(winepath -w "$work/deletes.txt")" "$(winepath -w "$work/deletes.ready")" \
  </dev/null >"$work/deletes.out" 2>&1 &
standin=$!
for _ in $(seq 200); do [ -f "$work/deletes.ready" ] && break; sleep 0.1; done
# Where the package's own uninstall.exe cannot run (a 32-bit one on a kernel
# that runs no 32-bit programs), TRY_TOOLS' of the same sources, of the kind
# this machine runs, removes the folder in its place, named on its command line.
arch=$("$here/windows-arch.sh" --program "$TRY_TOOLS/robot.exe") || fail "$TRY_TOOLS/robot.exe is not a Windows program"
own=$("$here/windows-arch.sh" --program "$installed/uninstall.exe") || fail "the installed uninstall.exe is not a Windows program"
if [ "$own" != "$arch" ]; then
  echo "demo: this machine runs $arch Windows programs: the folder is removed by an $arch uninstall.exe of the same sources (the package's own $own uninstall.exe is not run)"
  [ -f "$TRY_TOOLS/uninstall.exe" ] && [ "$("$here/windows-arch.sh" --program "$TRY_TOOLS/uninstall.exe")" = "$arch" ] ||
    fail "$TRY_TOOLS holds no uninstall.exe built for $arch"
  echo "C:\\> uninstall.exe /S $installed_folder"
  (cd "$WINEPREFIX/drive_c" && wine "$TRY_TOOLS/uninstall.exe" /S "$installed_folder" </dev/null >"$work/uninstall.out" 2>&1)
else
  echo "C:\\> $installed_folder\\uninstall.exe /S"
  (cd "$WINEPREFIX/drive_c" && wine "$installed_folder\\uninstall.exe" /S </dev/null >"$work/uninstall.out" 2>&1)
fi
status=$?
# Run from the folder, it hands over to its copy in the temporary folder and
# ends once the copy has removed the rest but itself; the copy's closing line
# ("... Removed: ...") says when it is done.
for _ in $(seq 600); do [ $status -ne 0 ] || grep -q 'Removed: ' "$work/uninstall.out" && break; sleep 0.1; done
kill "$standin" 2>/dev/null
wait "$standin" 2>/dev/null
tr -d '\r' <"$work/uninstall.out" | sed 's/^/  /'
echo "uninstall.exe ended with status $status"
if [ -e "$installed" ]; then
  echo "Left in $installed_folder: $(find "$installed" -type f | wc -l) files"
  (cd "$installed" && find . -type f | sort | head -20 | sed 's/^/  /')
else
  echo "Removed: $installed_folder, its $files files (uninstall.exe and uninstall.lst among them) and $folders folders"
fi
echo "Program Manager text received:"
sed 's/^/  /' "$work/deletes.txt" 2>/dev/null | grep . || echo "  (none)"
# PATH as try.sh recorded it before the install, in the same form.
keys=('HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' 'HKCU\Environment')
for key in "${keys[@]}"; do
  wine reg query "$key" /v PATH </dev/null 2>/dev/null | tr -d '\r' | sed -n "s|^    |${key%%\\*}: |p"
done >"$work/path.after"
grep -i ': PATH ' "$work/registry.before" >"$work/path.before"
echo "PATH afterwards:"
sed 's/^/  /' "$work/path.after" | grep . || echo "  (none)"
[ $status -eq 0 ] || fail "uninstall.exe kept something or refused (status $status)"
[ ! -e "$installed" ] || fail "the installed folder is still there"
cmp -s "$work/path.before" "$work/path.after" || fail "PATH is not as it was before the install: $(sed 's/^/  /' "$work/path.before")"
echo "PATH is as it was before the install."
