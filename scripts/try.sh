#!/usr/bin/env bash
# Installs a package folder (setup.exe, source, env, inf) or a one-file
# package (FILE.exe) under Wine, as a user would, in a throwaway prefix that
# is kept afterwards:
#   scripts/try.sh ARCH TOOLS_DIR PACKAGE_DIR|FILE.exe WORK_DIR [CMD...]
# ARCH (i686 or x86_64) is the kind of Windows program this machine runs;
# TOOLS_DIR holds robot.exe and progman_standin.exe of that kind (and
# setup.exe, see below). With a DISPLAY you drive
# the wizard yourself. Without one, it runs on a private X server and the
# robot accepts the licence and the proposed folder, installs and presses
# Finish, saving a picture of the installer's window on each page in
# WORK_DIR (and of the unpacker's window first, 0-unpacking.png, for a one
# file, whose folder in %TEMP% must be gone at the end); a picture that
# cannot be taken fails the run. Then it prints
# where the files went, the variables the installer set in the registry and
# the Program Manager text received. CMD, when given, runs next with the
# bench still up (TRY_BENCH names it, TRY_WORK is WORK_DIR, TRY_TOOLS is
# TOOLS_DIR, TRY_PICTURES is 1 on the private X server) and its status
# counts. Last come the pictures and the line "Wine prefix: PATH".
set -uo pipefail
usage="usage: try.sh ARCH TOOLS_DIR PACKAGE_DIR|FILE.exe WORK_DIR [CMD...]"
[ $# -ge 4 ] || { echo "$usage" >&2; exit 2; }
arch=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=imagemagick.sh
. "$here/imagemagick.sh"
tools=$(cd "$1" && pwd) || exit 1
package=$2
work=$3
shift 3
fail() { echo "try: $*" >&2; exit 1; }
mkdir -p "$work"
work=$(cd "$work" && pwd)
# The window class of the unpacker's window, which a one file shows first.
unpacker_window=gcc_setup_unpacker
onefile=""
if [ -f "$package" ]; then
  onefile=$(realpath "$package")
  # A stock tool lists it; a prepended program makes unzip warn (status 1).
  unzip -Z1 "$onefile" >"$work/onefile.list" 2>"$work/why"; [ $? -le 1 ] ||
    fail "$onefile is neither a package folder nor a one-file package: $(head -n1 "$work/why")"
  for f in setup.exe env inf; do grep -qx "$f" "$work/onefile.list" || fail "$onefile holds no $f: not a one-file package"; done
  package=$(dirname "$onefile")
else
  for f in setup.exe env inf; do [ -f "$package/$f" ] || fail "$package holds no $f: not a package folder"; done
  [ -d "$package/source" ] || fail "$package holds no source folder: not a package folder"
  package=$(cd "$package" && pwd)
fi
# On a kernel that runs no 32-bit programs the package's own setup.exe cannot
# start: TOOLS_DIR's, an x86_64 build of the same sources, runs in its place
# from WORK_DIR/package, a copy of the package over its own source folder.
# The package itself is left as it is.
own=$("$here/windows-arch.sh" --program "${onefile:-$package/setup.exe}") || fail "${onefile:-$package/setup.exe} is not a Windows program"
if [ -n "$onefile" ] && [ "$own" != "$arch" ]; then
  # The same for a one file: its archive, with TOOLS_DIR's setup.exe in it,
  # after TOOLS_DIR's unpacker, its offsets made to count from the start
  # of the file (zip -A), as those of a one file do.
  echo "try: this machine runs $arch Windows programs: the one file is run as the same archive with an $arch setup.exe after an $arch unpacker of the same sources (the file's own $own programs are not run)"
  for f in setup.exe unpacker.exe; do
    [ -f "$tools/$f" ] && [ "$("$here/windows-arch.sh" --program "$tools/$f")" = "$arch" ] || fail "$tools holds no $f built for $arch"
  done
  command -v zip >/dev/null || fail "zip is not installed (scripts/install-deps.sh installs it)"
  stand_in=$work/onefile/$(basename "$onefile")
  rm -rf "$work/onefile" && mkdir -p "$work/onefile/package" || fail "no folder $work/onefile"
  unzip -q "$onefile" -d "$work/onefile/package" 2>"$work/why"; [ $? -le 1 ] || fail "$onefile was not unpacked: $(head -n1 "$work/why")"
  cp "$tools/setup.exe" "$work/onefile/package/setup.exe" &&
    (cd "$work/onefile/package" && zip -q -0 -X -r ../archive.zip setup.exe env inf source) &&
    cat "$tools/unpacker.exe" "$work/onefile/archive.zip" >"$stand_in" && zip -q -A "$stand_in" ||
    fail "no $arch one file was made in $work/onefile"
  rm -rf "$work/onefile/package" "$work/onefile/archive.zip"
  onefile=$stand_in
  package=$work/onefile
elif [ "$own" != "$arch" ]; then
  echo "try: this machine runs $arch Windows programs: the package is installed with an $arch setup.exe of the same sources (the package's own $own setup.exe is not run)"
  [ -f "$tools/setup.exe" ] && [ "$("$here/windows-arch.sh" --program "$tools/setup.exe")" = "$arch" ] ||
    fail "$tools holds no setup.exe built for $arch"
  rm -rf "$work/package" && mkdir "$work/package" &&
    cp "$package/env" "$package/inf" "$tools/setup.exe" "$work/package/" &&
    ln -s "$package/source" "$work/package/source" || fail "no copy of the package in $work/package"
  package=$work/package
fi
bench=$work/bench
e2e=$here/../tests/e2e

interactive=0
[ -n "${DISPLAY:-}" ] && interactive=1
shots=(1-licence 2-folder 3-installing 4-finished)
if [ $interactive -eq 0 ]; then
  imagemagick import >/dev/null 2>"$work/why" && imagemagick convert >/dev/null 2>"$work/why" ||
    fail "no pictures can be made: $(cat "$work/why")"
  for shot in 0-unpacking "${shots[@]}"; do rm -f "$work/$shot.png"; done
fi
program=() first=()
[ -z "$onefile" ] || program=(--program "$(basename "$onefile")")

"$here/wine-session.sh" start "$bench" "$arch" || exit 1
trap '"$here/wine-session.sh" stop "$bench" >/dev/null 2>&1' EXIT
if [ $interactive -eq 1 ]; then
  # The wizard goes to your own screen; the prefix stays the bench's.
  sed -i "s|^export DISPLAY=.*|export DISPLAY=$DISPLAY|; /^export XAUTHORITY=/d" "$bench/env"
  [ -n "${XAUTHORITY:-}" ] && echo "export XAUTHORITY=$XAUTHORITY" >>"$bench/env"
fi
# shellcheck disable=SC1091
. "$bench/env"
keys=('HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' 'HKCU\Environment')
registry() {  # FILE: both environment keys, one "KEY: NAME TYPE DATA" line a value
  local key
  for key in "${keys[@]}"; do
    wine reg query "$key" </dev/null 2>/dev/null | tr -d '\r' | sed -n "s|^    |${key%%\\*}: |p"
  done >"$1"
}
registry "$work/registry.before"
# The prefix's own group server fails on the empty argument the installer
# sends; the stand-in records the text instead.
wine "$tools/robot.exe" silence-progman </dev/null >"$work/silence.out" 2>&1

if [ $interactive -eq 1 ]; then
  echo "The installer is on your screen: accept the licence, choose a folder, install, then Finish."
  SETUP_ROBOT_TIMEOUT_MS=3600000 bash "$e2e/run-setup.sh" "$bench" "$tools" "$package" "$work" "${program[@]}" \
    window:nv_gfortran last:4 gone
else
  echo "No DISPLAY: the robot drives the wizard on a private X server."
  # The unpacker's window is up only while it unpacks: the robot, looking
  # every few milliseconds, saves it itself at once.
  [ -z "$onefile" ] || first=("window:$unpacker_window" "snap:$(winepath -w "$work/0-unpacking.bmp")")
  SETUP_ROBOT_POLL_MS=5 bash "$e2e/run-setup.sh" "$bench" "$tools" "$package" "$work" "${program[@]}" "${first[@]}" \
    window:nv_gfortran winrect shot:1-licence click:1 wait:5 print:4 shot:2-folder \
    click:5 after:600 shot:3-installing wait:7 after:300 shot:4-finished click:7 gone 2>"$work/why" ||
    fail "$(sed -n 's/^run-setup: //p;q' "$work/why" | grep . || echo "the robot did not get through the wizard"); see $work/robot.out"
  # Each picture is the installer's window, cut from the whole screen.
  for shot in "${shots[@]}"; do
    why=$(crop_to_window "$work/robot.out" "$work/$shot.png") || fail "$why"
  done
  if [ -n "$onefile" ]; then
    "$(imagemagick convert)" "$work/0-unpacking.bmp" "$work/0-unpacking.png" 2>"$work/why" ||
      fail "picture $work/0-unpacking.png was not made: $(head -n1 "$work/why")"
    rm -f "$work/0-unpacking.bmp"
    shots=(0-unpacking "${shots[@]}")
  fi
fi
if [ -n "$onefile" ]; then
  echo "$(basename "$onefile") ended with status $(cat "$work/setup.status") (setup.exe's, passed on by the unpacker)"
  temp=$(winepath -u "$(wine cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')" 2>/dev/null)
  [ -d "$temp" ] || fail "no temporary folder $temp in the prefix"
  left=$(find "$temp" -maxdepth 1 -name 'gcc-pkg-*' | head -n1)
  [ -z "$left" ] || fail "the unpacker left its folder $left"
  echo "The unpacker's folder in %TEMP% ($temp) is gone."
else
  echo "setup.exe ended with status $(cat "$work/setup.status")"
fi

# Where the files went: the folder box's text when Install was pressed.
folder=$(sed -n 's/^text 4 //p' "$work/robot.out" | tail -n1)
installed=""
[ -n "$folder" ] && installed=$(readlink -f "$(winepath -u "$folder" 2>/dev/null)")
if [ -n "$installed" ] && [ -d "$installed" ]; then
  echo "Installed into $folder ($installed): $(find "$installed" -type f | wc -l) files"
  (cd "$installed" && find . -maxdepth 2 | sort | head -20 | sed 's/^/  /')
else
  echo "Nothing was installed${folder:+ into $folder}."
fi
echo "Registry values the installer set (HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER environment):"
registry "$work/registry.after"
grep -vxF -f "$work/registry.before" "$work/registry.after" | sed 's/^/  /' | grep . || echo "  (none)"
echo "Program Manager text received:"
sed 's/^/  /' "$work/executes.txt" 2>/dev/null | grep . || echo "  (none)"

status=0
if [ $# -gt 0 ]; then
  TRY_BENCH=$bench TRY_WORK=$work TRY_TOOLS=$tools TRY_PICTURES=$((1 - interactive)) "$@" || status=$?
fi
if [ $interactive -eq 0 ]; then
  echo "The $([ -n "$onefile" ] && echo "unpacker's window and the ")four pages as the installer showed them:"
  for shot in "${shots[@]}"; do echo "  $work/$shot.png"; done
fi
echo "Wine prefix: $WINEPREFIX"
exit $status
