#!/usr/bin/env bash
# The end-to-end cases: each a real run of setup.exe under the Wine bench, in
# a fresh folder, driven by the robot.
#   e2e_cases.sh CASE BENCH_DIR TOOLS_DIR DEMO_DIR WORK_DIR
set -uo pipefail
name=$1 bench=$2 tools=$3 demo=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../scripts/imagemagick.sh
. "$here/../../scripts/imagemagick.sh"
# A case that logs off ends every process of its prefix: it has a bench of
# its own, so that the tests running beside it keep theirs.
if [ "$name" = compile-through-path ]; then
  arch=$(sed -n 's/^export SESSION_ARCH=//p' "$bench/env" 2>/dev/null)
  bench=$work/$name.bench
  mkdir -p "$work"
  "$here/../../scripts/wine-session.sh" start "$bench" "${arch:-none}" >"$work/$name.bench.out" 2>&1 ||
    { echo "FAILED: no Wine bench of its own: $(tail -n1 "$work/$name.bench.out")"; echo "0 passed, 1 failed"; exit 1; }
  trap '"$here/../../scripts/wine-session.sh" stop "$bench" >/dev/null 2>&1' EXIT
fi
# shellcheck disable=SC1091
. "$bench/env"

case_dir=$work/$name
rm -rf "$case_dir"
mkdir -p "$case_dir"
case_dir=$(cd "$case_dir" && pwd)
package=$case_dir/package
# Hard links: a fresh folder per case without copying the payload.
cp -al "$demo/package" "$package"

failures=0
check() {
  if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
started=$(date +%s.%N)
finish() {
  echo "case $name took $(awk "BEGIN { printf \"%.1f\", $(date +%s.%N) - $started }") s"
  [ $failures -eq 0 ] || { echo "--- robot.out"; cat "$case_dir/robot.out"; echo "--- setup.out"; cat "$case_dir/setup.out"
                           echo "--- setup.err"; head -n 20 "$case_dir/setup.err"
                           [ ! -f "$case_dir/uninstall.out" ] || { echo "--- uninstall.out"; cat "$case_dir/uninstall.out"
                                                                   echo "--- uninstall.err"; head -n 20 "$case_dir/uninstall.err"; }; }
  echo "$((failures == 0 ? 1 : 0)) passed, $((failures > 0 ? 1 : 0)) failed"
  exit $((failures > 0))
}

drive_c=$WINEPREFIX/drive_c
machine_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
# The registry's wide text, both ways through regedit's UTF-16 files (what
# `reg query` prints to a pipe passes through the ANSI code page).
machine_reg_key='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
wide_value() {  # NAME -> the machine key's value of NAME, in UTF-8 ("" when none)
  rm -f "$case_dir/export.reg"
  wine regedit /E "$(winepath -w "$case_dir/export.reg")" "$machine_reg_key" </dev/null >/dev/null 2>&1
  # A string's bytes are UTF-16 hex, wrapped over lines ending in "\".
  local hex
  hex=$(iconv -f UTF-16LE -t UTF-8 "$case_dir/export.reg" | tr -d '\r' | awk -v name="\"$1\"=hex(2):" '
    on { line = $0; sub(/^ +/, "", line) }
    !on && tolower(substr($0, 1, length(name))) == tolower(name) { on = 1; line = substr($0, length(name) + 1) }
    on { more = sub(/\\$/, "", line); printf "%s", line; if (!more) exit }')
  [ -n "$hex" ] || return 0
  printf "$(printf '%s' "$hex" | tr -d ' ' | sed 's/^/\\x/; s/,/\\x/g')" | iconv -f UTF-16LE -t UTF-8 | tr -d '\0'
}
set_wide_value() {  # NAME TEXT: NAME an expandable string of the machine key
  local hex
  hex=$(printf '%s\0' "$2" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//')
  { printf '\xff\xfe'
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n"%s"=hex(2):%s\r\n\r\n' "$machine_reg_key" "$1" "$hex" |
      iconv -f UTF-8 -t UTF-16LE; } >"$case_dir/import.reg"
  wine regedit /S "$(winepath -w "$case_dir/import.reg")" </dev/null >/dev/null 2>&1
}
reg_value() {  # KEY NAME -> "TYPE DATA"
  wine reg query "$1" /v "$2" </dev/null >"$case_dir/reg.out" 2>/dev/null
  tr -d '\r' <"$case_dir/reg.out" | awk -v n="$2" '$1 == n { t = $2; $1 = ""; $2 = ""; sub(/^  /, ""); print t " " $0 }'
}
# SETUP_E2E_ONE_FILE names a one-file package of the same package: each run
# then starts it in place of the folder's setup.exe.
one_file=${SETUP_E2E_ONE_FILE:-}
# A run whose screenshot could not be taken fails the case, whatever it checks.
run() {
  if [ -n "$one_file" ]; then
    bash "$here/run-setup.sh" "$bench" "$tools" "$(dirname "$one_file")" "$case_dir" --program "$(basename "$one_file")" "$@"
  else
    bash "$here/run-setup.sh" "$bench" "$tools" "$package" "$case_dir" "$@"
  fi
  local rc=$?
  if grep -q '^screenshot ' "$case_dir/robot.out"; then
    echo "FAILED: $(grep -m1 '^screenshot ' "$case_dir/robot.out")"
    failures=$((failures + 1))
  fi
  return $rc
}
# The colour checks read the screenshots with ImageMagick's convert.
convert=convert
case "$name" in
  demo | title-and-notice)
    convert=$(imagemagick convert 2>"$case_dir/convert.why") ||
      { echo "FAILED: $(cat "$case_dir/convert.why")"; failures=$((failures + 1)); } ;;
esac
# pixel SHOT X Y: the colour at client coordinates X, Y of a screenshot, as
# "R,G,B" (the client origin comes from the robot's "client" line).
pixel() {
  local origin
  origin=$(awk '$1 == "client" { print $2 " " $3; exit }' "$case_dir/robot.out")
  set -- "$1" $(( $2 + ${origin% *} )) $(( $3 + ${origin#* } ))
  "$convert" "$case_dir/$1.png" -format "%[pixel:p{$2,$3}]" info: 2>/dev/null | tr -d 'srgba()' | cut -d, -f1-3
}
# The pane's region of a screenshot, as a digest of its pixels.
pane_digest() {
  local origin
  origin=$(awk '$1 == "client" { print $2 " " $3; exit }' "$case_dir/robot.out")
  "$convert" "$case_dir/$1.png" -crop "624x292+$(( ${origin% *} + 35 ))+$(( ${origin#* } + 75 ))" -format '%#' info: 2>/dev/null
}
status() { cat "$case_dir/setup.status" 2>/dev/null; }
# Without a window manager on the bench, Wine draws the title bars itself, so
# that screenshots show them.
if ! grep -qs '"Managed"="N"' "$WINEPREFIX/user.reg"; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
fi
# Only the stand-in may answer: the prefix's own server fails on empty arguments.
wine "$tools/robot.exe" silence-progman </dev/null >"$case_dir/silence.out" 2>&1

accept_and_install() {  # FOLDER [extra steps before Install]
  local folder=$1
  shift
  run window:nv_gfortran click:1 wait:5 "settext:4:$folder" "$@" click:5 wait:7 click:7 gone
}

case "$name" in
  demo)
    rm -rf "$drive_c/gcc-demo"
    temp_dir=$(winepath -u "$(wine cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')" 2>/dev/null)
    unpacked() { find "$temp_dir" -maxdepth 1 -name 'gcc-pkg-*' 2>/dev/null; }
    before_run=$(unpacked)
    wine reg delete "$machine_key" /v LIBRARY_PATH /f </dev/null >/dev/null 2>&1
    run --trace-text window:nv_gfortran winrect shot:licence click:1 wait:5 print:4 settext:4:'C:\gcc-demo' \
      shot:folder click:5 after:600 shot:installing wait:7 rect:7 shot:finish click:7 gone
    rc=$?
    check "the robot went from the licence to Finish" '[ $rc -eq 0 ]'
    check "setup.exe ended with status 0" '[ "$(status)" = 0 ]'
    check "the installed tree is byte-identical to the plain tree" 'diff -r "$demo/plain" "$drive_c/gcc-demo" >/dev/null'
    check "expansion keeps no read-only attribute (only a plain copy does)" \
      '[ "$(stat -c %A "$demo/plain/doc/README.txt" | cut -c3)" = - ] && [ "$(stat -c %A "$drive_c/gcc-demo/doc/README.txt" | cut -c3)" = w ]'
    check "PATH in the machine key starts with the bin folder, REG_EXPAND_SZ" \
      '[[ "$(reg_value "$machine_key" PATH)" == "REG_EXPAND_SZ C:\\gcc-demo\\bin;"* ]]'
    check "LIBRARY_PATH written as REG_SZ" \
      '[ "$(reg_value "$machine_key" LIBRARY_PATH)" = "REG_SZ C:\\gcc-demo\\lib;C:\\gcc-demo\\lib\\gcc\\i686-w64-mingw32\\12" ]'
    check "the wizard's text is drawn in Liberation Serif, the bench's \"Times New Roman\"" \
      'grep -qx "Liberation Serif" "$case_dir/fonts.txt"'
    check "page 5 says the package was configured for all users" \
      'grep -qx "35 182 Congratulations. GCC has been successfully installed." "$case_dir/texts.txt" &&
       grep -qx "35 232 GCC have been configured for all users." "$case_dir/texts.txt"'
    check "page 4 showed files being extracted under the dash bar" \
      'grep -q "^35 237 C:\\\\gcc-demo\\\\include\\\\" "$case_dir/texts.txt" && grep -q "^248 207 -" "$case_dir/texts.txt"'
    check "the Program Manager received the exact group text" \
      '[ "$(cat "$case_dir/executes.txt")" = "[CreateGroup(GCC Demo, )][AddItem(C:\\gcc-demo\\bin\\gcc.exe,GCC Demo Compiler)][ShowGroup(GCC Demo,4, )][ExitProgman(1)]" ]'
    check "Finish stands centred at (297, 409)" 'grep -qx "rect 7 297 409 100 30" "$case_dir/robot.out"'
    check "the main window's colour is RGB(194, 191, 165)" '[ "$(pixel licence 5 5)" = "194,191,165" ] && [ "$(pixel finish 5 5)" = "194,191,165" ]'
    check "the notice pane's colour is RGB(224, 223, 209)" '[ "$(pixel licence 336 86)" = "224,223,209" ]'
    check "the installed gcc.exe runs" 'wine "$drive_c/gcc-demo/bin/gcc.exe" -v </dev/null 2>/dev/null | grep -q "^tcc version"'
    [ -z "$one_file" ] ||
      check "started through the one file $(basename "$one_file"), its unpacked folder is gone afterwards" \
        '[ -d "$temp_dir" ] && [ "$(unpacked)" = "$before_run" ]'
    ;;
  compile-through-path)
    # What the user gets: after a log off, a console in a folder of their own
    # finds the compiler through PATH alone.
    rm -rf "$drive_c/gcc-path" "$drive_c/elsewhere"
    # The machine's PATH as Windows has it, its folders named through %SystemRoot%.
    wine reg add "$machine_key" /v PATH /t REG_EXPAND_SZ /d '%SystemRoot%\system32;%SystemRoot%' /f </dev/null >/dev/null 2>&1
    wine reg delete 'HKCU\Environment' /v PATH /f </dev/null >/dev/null 2>&1
    accept_and_install 'C:\gcc-path'
    check "setup.exe ended with status 0" '[ "$(status)" = 0 ]'
    "$here/../../scripts/wine-session.sh" logoff "$bench"
    mkdir -p "$drive_c/elsewhere"
    printf '%s\n' '#include <stdio.h>' \
      'int main(int argc, char **argv) { for (int i = 1; i < argc; i++) printf("%d %s\n", i, argv[i]); return 40 + argc; }' \
      >"$drive_c/elsewhere/args.c"
    console() {  # a console in C:\elsewhere: cmd /c ARGS, its output in console.out
      (cd "$drive_c/elsewhere" && wine cmd /c "$@" </dev/null >"$case_dir/console.part" 2>"$case_dir/console.err")
      local rc=$?
      tr -d '\r' <"$case_dir/console.part" >"$case_dir/console.out"
      return $rc
    }
    # As set shows it: echo would expand what a REG_SZ value left unexpanded.
    console set PATH
    check "the new session's PATH starts with the bin folder, %SystemRoot% expanded" \
      '[[ "$(sed -n "s/^PATH=//p" "$case_dir/console.out" | tr "[:upper:]" "[:lower:]")" == "c:\\gcc-path\\bin;c:\\windows\\system32;c:\\windows"* ]]'
    console hostname
    rc=$?
    check "a program of system32 is still found by name" '[ $rc -eq 0 ] && [ -s "$case_dir/console.out" ]'
    console gcc args.c -o args.exe
    rc=$?
    check "gcc, found through PATH, compiled args.c into args.exe" '[ $rc -eq 0 ] && [ -f "$drive_c/elsewhere/args.exe" ]'
    console args.exe one "two words"
    rc=$?
    check "args.exe got its arguments" '[ "$(cat "$case_dir/console.out")" = "$(printf "1 one\n2 two words")" ]'
    check "and its exit status came through ($rc)" '[ $rc -eq 43 ]'
    # Started again, setup.exe finds the installation through gcc.exe on PATH.
    run window:nv_gfortran click:1 wait:5 print:4 click:6 gone
    check "a second setup.exe proposes the installed folder" 'grep -qx "text 4 c:\\\\gcc-path" "$case_dir/robot.out"'
    ;;
  reinstall)
    rm -rf "$drive_c/gcc-again"
    accept_and_install 'C:\gcc-again'
    first=$(reg_value "$machine_key" PATH)
    # Something installed since stands before the package's folder now.
    wine reg add "$machine_key" /v PATH /t REG_EXPAND_SZ /d "C:\\other;${first#REG_EXPAND_SZ }" /f </dev/null >/dev/null 2>&1
    accept_and_install 'C:\gcc-again'
    second=$(reg_value "$machine_key" PATH)
    check "setup.exe ended with status 0" '[ "$(status)" = 0 ]'
    check "the package folder moved to the front, not repeated" \
      '[ "$second" = "REG_EXPAND_SZ C:\\gcc-again\\bin;C:\\other;${first#REG_EXPAND_SZ C:\\gcc-again\\bin;}" ]'
    check "it stands in PATH once" '[ "$(echo "$second" | grep -o "C:\\\\gcc-again\\\\bin" | wc -l)" = 1 ]'
    ;;
  damaged)
    rm -rf "$drive_c/damaged"
    rm "$package/source/doc/README.txt"
    printf 'this was never bzip2 data' >"$package/source/doc/README.txt"
    run window:nv_gfortran click:1 wait:5 settext:4:'C:\damaged' click:5 msgbox:Error gone
    check "the damaged file is reported by name" \
      'grep -q "msgbox Error: Damaged package file .\\\\source\\\\doc\\\\README.txt: it is not a complete bzip2 stream." "$case_dir/robot.out"'
    check "setup.exe ended with status 0" '[ "$(status)" = 0 ]'
    check "the Program Manager was never asked" '[ ! -s "$case_dir/executes.txt" ]'
    ;;
  no-source)
    rm -rf "$drive_c/nosource" "$package/source"
    run window:nv_gfortran click:1 wait:5 settext:4:'C:\nosource' click:5 msgbox:Error gone
    check "the message says the source is missing" 'grep -q "msgbox Error: Source directory does not exist.$" "$case_dir/robot.out"'
    check "setup.exe ended with status 0" '[ "$(status)" = 0 ]'
    check "the destination folder was made first, empty" '[ -d "$drive_c/nosource" ] && [ -z "$(ls -A "$drive_c/nosource")" ]'
    ;;
  no-parent)
    rm -rf "$drive_c/no"
    run window:nv_gfortran click:1 wait:5 settext:4:'C:\no\parent' click:5 'msgbox:C:\no\parent' gone
    check "only one level is made: the folder names itself as the caption" \
      'grep -q "^msgbox C:\\\\no\\\\parent: Error: Cannot create subdirectory to install.$" "$case_dir/robot.out"'
    check "setup.exe ended with status 0" '[ "$(status)" = 0 ]'
    check "nothing was made" '[ ! -e "$drive_c/no" ]'
    ;;
  planted-link)
    # A link planted in the folder before the run (a junction, on Windows):
    # bin leads to a folder outside, whose file must stay as it was.
    rm -rf "$drive_c/linkdest" "$drive_c/victim"
    mkdir -p "$drive_c/linkdest" "$drive_c/victim"
    printf 'victim data\n' >"$drive_c/victim/gcc.exe"
    ln -s ../victim "$drive_c/linkdest/bin"
    run window:nv_gfortran click:1 wait:5 settext:4:'C:\linkdest' click:5 'msgbox:C:\linkdest\bin' gone
    check "the link is refused with the folder's message, its path as the caption" \
      'grep -q "^msgbox C:\\\\linkdest\\\\bin: Error: Cannot create subdirectory to install.$" "$case_dir/robot.out"'
    check "setup.exe ended with status 0" '[ "$(status)" = 0 ]'
    check "the file outside is as it was, nothing was added there, the link still a link" \
      '[ "$(cat "$drive_c/victim/gcc.exe")" = "victim data" ] && [ "$(ls "$drive_c/victim")" = gcc.exe ] && [ -L "$drive_c/linkdest/bin" ]'
    ;;
  deny)
    run window:nv_gfortran click:2 gone
    check "setup.exe ended with status 0" '[ "$(status)" = 0 ]'
    check "nothing was sent to the Program Manager" '[ ! -s "$case_dir/executes.txt" ]'
    ;;
  cancel)
    rm -rf "$drive_c/cancelled"
    run window:nv_gfortran click:1 wait:5 settext:4:'C:\cancelled' click:6 gone
    check "setup.exe ended with status 0" '[ "$(status)" = 0 ]'
    check "nothing was installed" '[ ! -e "$drive_c/cancelled" ]'
    ;;
  trailing-backslash)
    rm -rf "$drive_c/trail"
    accept_and_install 'C:\trail\'
    check "setup.exe ended with status 0" '[ "$(status)" = 0 ]'
    check "the folder without its backslash received the tree" '[ -f "$drive_c/trail/bin/gcc.exe" ]'
    check "the Program Manager text names the folder once" \
      'grep -q "AddItem(C:\\\\trail\\\\bin\\\\gcc.exe," "$case_dir/executes.txt"'
    ;;
  browse)
    # A DLL planted beside setup.exe under the name of one that Wine's shell
    # loads at run time: the restricted search takes the system's.
    cp "$tools/planted_probe.dll" "$package/uxtheme.dll"
    run --trace-loads window:nv_gfortran click:1 wait:5 print:4 click:3 dialog:cancel sleep:300 print:4 click:3 dialog:ok sleep:300 print:4 click:6 gone
    check "setup.exe ended with status 0" '[ "$(status)" = 0 ]'
    check "the DLL planted beside setup.exe is passed by, the system's taken" \
      '! grep -qi "package.uxtheme\.dll$" "$case_dir/loads.txt" && grep -qi "system32.uxtheme\.dll$" "$case_dir/loads.txt"'
    proposal=$(grep "^text 4 " "$case_dir/robot.out" | sed -n 1p)
    check "cancelling the dialog leaves the folder box as it was" '[ "$(grep "^text 4 " "$case_dir/robot.out" | sed -n 2p)" = "$proposal" ]'
    check "the folder chosen in the dialog, with \\gcc, is put in the box" \
      'grep "^text 4 " "$case_dir/robot.out" | sed -n 3p | grep -q "^text 4 .*[^\\\\]\\\\gcc$"'
    ;;
  title-and-notice)
    run window:nv_gfortran winrect shot:plain click:2 gone
    run --arg -t --arg "My Setup" --arg -n window:nv_gfortran winrect shot:licence click:2 gone
    check "the title comes from -t" 'grep -qx "title My Setup" "$case_dir/robot.out"'
    check "the window is 700 x 500, centred on the 1024 x 768 screen" 'grep -qx "winrect 162 134 700 500" "$case_dir/robot.out"'
    check "the class is nv_gfortran" 'grep -qx "class nv_gfortran" "$case_dir/robot.out"'
    check "with -n the pane shows more of the notice" \
      '[ -n "$(pane_digest licence)" ] && [ "$(pane_digest licence)" != "$(pane_digest plain)" ]'
    ;;
  no-progman)
    rm -rf "$drive_c/noprogman"
    bash "$here/run-setup.sh" "$bench" "$tools" "$package" "$case_dir" --no-progman \
      window:nv_gfortran click:1 wait:5 settext:4:'C:\noprogman' click:5 wait:7 click:7 gone
    rc=$?
    check "Finish came without any Program Manager" '[ $rc -eq 0 ] && [ "$(status)" = 0 ]'
    check "the tree was installed" '[ -f "$drive_c/noprogman/bin/gcc.exe" ]'
    ;;
  no-program)
    # Nothing to start: the robot must not sit out its whole wait for a window.
    rm "$package/setup.exe"
    begun=$SECONDS
    run window:nv_gfortran click:1 gone 2>/dev/null
    rc=$? took=$((SECONDS - begun))
    check "the run failed within 20 s, not after the robot's 60 s wait ($took s)" '[ $rc -ne 0 ] && [ $took -lt 20 ]'
    check "with the reason from Wine itself" \
      'grep -q "^setup.exe ended with status [1-9][0-9]* before the robot was done: Application could not be started" "$case_dir/robot.out"'
    ;;
  uninstall)
    # The demo package made with --uninstaller and signed: installed, then
    # removed by the signed uninstall.exe it carries, started from the
    # installed folder.
    rm -rf "$package" "$drive_c/gcc-removed"
    cp -al "$demo/uninstaller-package" "$package"
    folder='C:\gcc-removed' installed=$drive_c/gcc-removed
    # Other cases' copies of these in the session's drive (a maker's folder) stay.
    leftovers() { find "$drive_c" -ipath "*/temp" -prune -o \( -iname uninstall.exe -o -iname uninstall.lst \) -print | sort; }
    others=$(leftovers)
    environment() {  # both keys' PATH and LIBRARY_PATH, one line each
      local key
      for key in "$machine_key" 'HKCU\Environment'; do
        echo "$key PATH $(reg_value "$key" PATH)"
        echo "$key LIBRARY_PATH $(reg_value "$key" LIBRARY_PATH)"
      done
    }
    # Other programs' folders outside the ANSI code page, on the machine's PATH.
    wide_before=$(wide_value PATH)
    wide_others='C:\Łukasz\bin;C:\工具\bin'
    set_wide_value PATH "$wide_others;$wide_before"
    before=$(environment)
    accept_and_install "$folder"
    installed_environment=$(environment)
    check "after the install, the machine's PATH is the package's folder and the rest exactly as it was" \
      '[ -n "$wide_before" ] && [ "$(wide_value PATH)" = "C:\gcc-removed\bin;$wide_others;$wide_before" ]'
    # A Windows program's certificate table: data directory 4 of its optional
    # header (PE32 or PE32+), a file offset and a size, both set.
    signed() {
      local at magic
      at=$(od -An -tu4 -j60 -N4 "$1") && magic=$(od -An -tx2 -j$((at + 24)) -N2 "$1") || return 1
      od -An -tu4 -j$((at + 24 + $([ "$magic" = " 020b" ] && echo 144 || echo 128))) -N8 "$1" | awk '{ exit !($1 > 0 && $2 > 0) }'
    }
    check "setup.exe, signed, installed it, uninstall.exe (signed) and its list at the folder's root, PATH changed" \
      '[ "$(status)" = 0 ] && signed "$package/setup.exe" && signed "$installed/uninstall.exe" && [ -f "$installed/uninstall.lst" ] &&
       [[ "$installed_environment" == *"PATH REG_EXPAND_SZ C:\\gcc-removed\\bin;"* ]]'
    check "the group got the item that starts it" \
      'grep -qF "[AddItem(C:\\gcc-removed\\uninstall.exe,Uninstall GCC Demo)]" "$case_dir/executes.txt"'
    uninstall() {  # uninstall.exe of the folder with ARGS, a stand-in listening; its status
      rm -f "$case_dir/deletes.txt" "$case_dir/deletes.ready"
      wine "$tools/progman_standin.exe" "$(winepath -w "$case_dir/deletes.txt")" "$(winepath -w "$case_dir/deletes.ready")" \
        </dev/null >"$case_dir/deletes.out" 2>&1 &
      local standin=$! rc
      # Generous bounds: emulated (make i686-test) a Wine program starts slowly.
      for _ in $(seq 600); do [ -f "$case_dir/deletes.ready" ] && break; sleep 0.1; done
      (cd "$drive_c" && timeout --kill-after=5 "${SETUP_E2E_TIMEOUT:-300}" wine "$folder\\uninstall.exe" "$@" \
        </dev/null >"$case_dir/uninstall.part" 2>"$case_dir/uninstall.err")
      rc=$?
      # Run from the folder, it hands over to its copy in the temporary folder
      # and ends once the copy has removed the rest but itself; the copy's
      # closing line says when it is done.
      for _ in $(seq 1800); do [ $rc -ne 0 ] || grep -q 'Removed: ' "$case_dir/uninstall.err" && break; sleep 0.1; done
      tr -d '\r' <"$case_dir/uninstall.part" >"$case_dir/uninstall.out"
      kill "$standin" 2>/dev/null
      wait "$standin" 2>/dev/null
      return $rc
    }
    # A list with a line after its end is damaged: refused, nothing touched.
    cp "$installed/uninstall.lst" "$case_dir/uninstall.lst"
    echo 'folder bin' >>"$installed/uninstall.lst"
    tree_before=$(cd "$installed" && find . -printf '%p %s\n' | sort)
    uninstall /S
    rc=$?
    check "a damaged list: refused ($rc) with a message; the folder, the registry and the group as they were" \
      '[ $rc -ne 0 ] && grep -q "^uninstall: " "$case_dir/uninstall.err" && [ "$(cd "$installed" && find . -printf "%p %s\n" | sort)" = "$tree_before" ] &&
       [ "$(environment)" = "$installed_environment" ] && [ ! -s "$case_dir/deletes.txt" ]'
    cp "$case_dir/uninstall.lst" "$installed/uninstall.lst"
    # The folder given is a link to the installed one: refused, naming where it leads.
    rm -f "$drive_c/gcc-linked"
    ln -s gcc-removed "$drive_c/gcc-linked"
    tree_before=$(cd "$installed" && find . -printf '%p %s\n' | sort)
    uninstall /S 'C:\gcc-linked'
    rc=$?
    check "a folder that is a link: refused ($rc), naming where it leads; the folder, the registry and the group as they were" \
      '[ $rc -eq 2 ] && grep -qF "uninstall: The folder C:\gcc-linked is a link to C:\gcc-removed: nothing was removed." "$case_dir/uninstall.err" &&
       [ "$(cd "$installed" && find . -printf "%p %s\n" | sort)" = "$tree_before" ] && [ "$(environment)" = "$installed_environment" ] &&
       [ ! -s "$case_dir/deletes.txt" ]'
    rm "$drive_c/gcc-linked"
    copies() { find "$drive_c/users" -ipath '*/temp/gcc-uninstall-*' -prune -print | sort; }
    copies_before=$(copies)
    # A listed folder that became a link to its very files, moved outside:
    # they stay, the link is named. (The i686 stage leaves this one out: E2E_LEAN.)
    if [ "${E2E_LEAN:-0}" != 1 ]; then
      outside=$drive_c/gcc-outside-lib
      rm -rf "$outside"
      mv "$installed/lib" "$outside"
      ln -s ../gcc-outside-lib "$installed/lib"
      outside_before=$(cd "$outside" && find . -printf '%p %s\n' | sort)
      copies_before=$(copies)
      uninstall /S
      rc=$?
      check "a listed folder that became a link: kept ($rc), named, and the files it leads to all stay" \
        '[ $rc -eq 1 ] && grep -qF "C:\gcc-removed\lib: replaced since it was installed" "$case_dir/uninstall.out" &&
         [ "$(cd "$outside" && find . -printf "%p %s\n" | sort)" = "$outside_before" ] && [ -L "$installed/lib" ]'
      check "the copy that kept something is gone with its folder once it ended" '[ "$(copies)" = "$copies_before" ]'
      rm "$installed/lib"
      mv "$outside" "$installed/lib"
      cp "$case_dir/uninstall.lst" "$installed/uninstall.lst"
    fi
    uninstall /S
    rc=$?
    check "uninstall.exe /S ended with status 0, nothing kept, and said what it removed" \
      '[ $rc -eq 0 ] && [ ! -s "$case_dir/uninstall.out" ] &&
       grep -q "^uninstall: GCC Demo has been removed from C:.gcc-removed. Removed: " "$case_dir/uninstall.err"'
    check "PATH and LIBRARY_PATH in both keys exactly as before the install" '[ "$(environment)" = "$before" ]'
    check "the machine's PATH read whole is exactly as before the install" \
      '[ "$(wide_value PATH)" = "$wide_others;$wide_before" ]'
    set_wide_value PATH "$wide_before"
    # The copy that removed everything outlives its starter: its folder, made
    # for it with a random name, goes when Windows next starts.
    check "the copy ran from a folder of its own in the temporary folder, holding only it" \
      'echo "$copies_before" >"$case_dir/copies-before" &&
       left=$(copies | comm -13 "$case_dir/copies-before" -) &&
       [ "$(echo "$left" | wc -l)" = 1 ] && [[ "$left" =~ /gcc-uninstall-[0-9a-f]{16}$ ]] && [ "$(ls "$left")" = uninstall.exe ]'
    check "nothing of the package is left under drive_c, uninstall.exe included (the temporary folder aside)" \
      '[ ! -e "$installed" ] &&
       [ "$(leftovers)" = "$others" ]'
    check "the Program Manager stand-in received the group's removal" \
      'grep -qF "[DeleteGroup(GCC Demo)]" "$case_dir/deletes.txt"'
    ;;
  one-file | one-file-damaged | one-file-no-room)
    give_up() { echo "FAILED: $1"; failures=$((failures + 1)); finish; }
    # The demo package as one signed file, as pkgtree bundle made it at build
    # time, in a folder of its own that it may not write, as a read-only medium.
    one=$case_dir/download
    mkdir -p "$one"
    cp "$demo/gcc-demo.exe" "$one/" || give_up "no one file $demo/gcc-demo.exe (the build makes it)"
    temp_dir=$(winepath -u "$(wine cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')" 2>/dev/null)
    [ -d "$temp_dir" ] || give_up "the prefix's temporary folder \"$temp_dir\" is not found"
    unpacked() { find "$temp_dir" -maxdepth 1 -name 'gcc-pkg-*' 2>/dev/null; }
    before_run=$(unpacked)
    one_run() { bash "$here/run-setup.sh" "$bench" "$tools" "$one" "$case_dir" "$@"; }
    chmod a-w "$one"
    trap 'chmod u+w "$one"' EXIT
    ;;&
  one-file)
    rm -rf "$drive_c/gcc-one"
    one_run --program gcc-demo.exe --arg -t --arg "One File" \
      window:nv_gfortran winrect click:1 wait:5 settext:4:'C:\gcc-one' click:5 wait:7 click:7 gone
    rc=$?
    check "the robot went from the licence to Finish, started through the one file" '[ $rc -eq 0 ]'
    check "the one file carries a signature that verifies" \
      'osslsigncode verify -CAfile "$(dirname "$work")/certificate/test-ca.pem" -in "$one/gcc-demo.exe" >"$case_dir/verify.out" 2>&1'
    check "the title comes from -t, handed on to setup.exe" 'grep -qx "title One File" "$case_dir/robot.out"'
    check "setup.exe's status 0 came through" '[ "$(status)" = 0 ]'
    check "the installed tree is byte-identical to the plain tree" 'diff -r "$demo/plain" "$drive_c/gcc-one" >/dev/null'
    check "the unpacked folder is gone afterwards" '[ "$(unpacked)" = "$before_run" ]'
    check "nothing was written beside the one file" '[ "$(ls -A "$one")" = gcc-demo.exe ]'
    ;;
  one-file-damaged)
    # Cut short, and one byte flipped in the data of the last file the
    # archive holds, so that all the others are unpacked before it is found.
    size=$(stat -c %s "$one/gcc-demo.exe")
    chmod u+w "$one"
    head -c $((size - 5000)) "$one/gcc-demo.exe" >"$one/cut.exe"
    cp "$one/gcc-demo.exe" "$one/flipped.exe"
    read -r local_at data_size <<<"$(zipinfo -v "$one/gcc-demo.exe" 2>/dev/null | awk '
      /offset of local header from start of archive:/ { at = $NF }
      /^  compressed size:/ { if ($3 > 0) { last = at " " $3 } }
      END { print last }')"
    [ -n "$data_size" ] || give_up "zipinfo (Debian's unzip) did not list the one file"
    # The data follows the local header: 30 bytes, the name and the extra field.
    lengths=$(od -An -tu2 -j$((local_at + 26)) -N4 "$one/flipped.exe")
    at=$((local_at + 30 + $(echo $lengths | tr ' ' '+') + data_size / 2))
    byte=$(od -An -tu1 -j$at -N1 "$one/flipped.exe" | tr -d ' ')
    printf "$(printf '\\%03o' $((byte ^ 1)))" | dd of="$one/flipped.exe" bs=1 seek=$at conv=notrunc status=none
    chmod a-w "$one"
    for damaged in cut flipped; do
      one_run --program $damaged.exe msgbox:Error
      rc=$?
      check "$damaged: refused with the message box naming the file" \
        '[ $rc -eq 0 ] && grep -q "^msgbox Error: The file .*\\\\$damaged.exe is damaged or incomplete" "$case_dir/robot.out" &&
         grep -q "Please download it again." "$case_dir/robot.out"'
      check "$damaged: the unpacker's own status 91, setup.exe never started" '[ "$(status)" = 91 ]'
      check "$damaged: no unpacked folder is left" '[ "$(unpacked)" = "$before_run" ]'
    done
    ;;
  one-file-no-room)
    # TEMP on a drive of 1 MB, a tmpfs of this case's own.
    room=$case_dir/small-temp
    mkdir -p "$room"
    mount -t tmpfs -o size=1m tmpfs "$room" 2>"$case_dir/mount.err" ||
      give_up "a 1 MB tmpfs could not be mounted (root is needed): $(cat "$case_dir/mount.err")"
    letter=$(for l in t u v w x y; do [ -e "$WINEPREFIX/dosdevices/$l:" ] || { echo $l; break; }; done)
    ln -s "$room" "$WINEPREFIX/dosdevices/$letter:"
    trap 'chmod u+w "$one"; rm -f "$WINEPREFIX/dosdevices/$letter:"; umount "$room"' EXIT
    chmod u+w "$one"
    printf '@set TMP=%s:\\\r\n@set TEMP=%s:\\\r\n@gcc-demo.exe\r\n@exit /b %%errorlevel%%\r\n' "${letter^^}" "${letter^^}" >"$one/small.bat"
    chmod a-w "$one"
    one_run --program cmd --arg /c --arg small.bat msgbox:Error
    rc=$?
    check "refused with the room it needs and the room there is" \
      '[ $rc -eq 0 ] && grep -q "^msgbox Error: There is not enough room in ${letter^^}: to unpack .*gcc-demo.exe: it needs [0-9.]* MB, and [01]\.[0-9] MB are free." "$case_dir/robot.out"'
    check "the unpacker's own status 93" '[ "$(status)" = 93 ]'
    check "nothing was left in the small TEMP" '[ -z "$(ls -A "$room")" ]'
    ;;
  *)
    echo "unknown case $name"
    failures=1
    ;;
esac
finish
