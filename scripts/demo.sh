#!/usr/bin/env bash
# Runs the installer on the demo package under Wine.
#   scripts/demo.sh WIN32_BUILD_DIR
# With a DISPLAY, you drive the wizard yourself. Without one, it runs on the
# bench's private X server and the robot presses Accept, Install and Finish,
# saving a picture of the installer's window on each page, and ends by naming
# the four pictures; a picture that cannot be taken fails the demo. Either
# way it prints where the files went, what the registry holds and the Program
# Manager text sent.
set -uo pipefail
build=$(cd "${1:?usage: demo.sh WIN32_BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=imagemagick.sh
. "$here/imagemagick.sh"
e2e=$here/../tests/e2e
package=$build/demo/package
work=$build/demo/run
bench=$build/demo-bench
tools=$build/bin
mkdir -p "$work"

interactive=0
[ -n "${DISPLAY:-}" ] && interactive=1
shots=(1-licence 2-folder 3-installing 4-finished)
if [ $interactive -eq 0 ]; then
  imagemagick import >/dev/null 2>"$work/why" && convert=$(imagemagick convert 2>"$work/why") ||
    { echo "demo: no pictures can be made: $(cat "$work/why")" >&2; exit 1; }
  for shot in "${shots[@]}"; do rm -f "$work/$shot.png"; done
fi

"$here/wine-bench.sh" start "$bench" || exit 1
trap '"$here/wine-bench.sh" stop "$bench" >/dev/null 2>&1' EXIT
if [ $interactive -eq 1 ]; then
  # The wizard goes to your own screen; the prefix stays the bench's.
  sed -i "s|^export DISPLAY=.*|export DISPLAY=$DISPLAY|; /^export XAUTHORITY=/d" "$bench/env"
  [ -n "${XAUTHORITY:-}" ] && echo "export XAUTHORITY=$XAUTHORITY" >>"$bench/env"
fi
# shellcheck disable=SC1091
. "$bench/env"
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
# The prefix's own group server fails on the empty argument the installer
# sends; the stand-in records the text instead.
wine "$tools/robot.exe" silence-progman </dev/null >"$work/silence.out" 2>&1

destination='C:\gcc-demo'
if [ $interactive -eq 1 ]; then
  echo "The installer is on your screen: accept the licence, install, then Finish."
  echo "(The folder $destination is a good choice; its parent exists.)"
  SETUP_ROBOT_TIMEOUT_MS=3600000 bash "$e2e/run-setup.sh" "$bench" "$tools" "$package" "$work" \
    window:nv_gfortran gone
else
  echo "No DISPLAY: the robot drives the wizard on a private X server."
  bash "$e2e/run-setup.sh" "$bench" "$tools" "$package" "$work" \
    window:nv_gfortran winrect shot:1-licence click:1 wait:5 "settext:4:$destination" shot:2-folder \
    click:5 after:600 shot:3-installing wait:7 after:300 shot:4-finished click:7 gone 2>"$work/why" ||
    { echo "demo: $(sed -n 's/^run-setup: //p;q' "$work/why" | grep . || echo "the robot did not get through the wizard"); see $work/robot.out" >&2
      exit 1; }
  # Each picture is the installer's window, cut from the whole screen.
  geometry=$(awk '$1 == "winrect" { printf "%dx%d+%d+%d", $4, $5, $2, $3; exit }' "$work/robot.out")
  [ -n "$geometry" ] || { echo "demo: the robot gave no window rectangle; see $work/robot.out" >&2; exit 1; }
  for shot in "${shots[@]}"; do
    "$convert" "$work/$shot.png" -crop "$geometry" +repage "$work/$shot.png" 2>"$work/crop.err" ||
      { echo "demo: picture $work/$shot.png was not made: $(head -n1 "$work/crop.err")" >&2; exit 1; }
  done
fi
echo "setup.exe ended with status $(cat "$work/setup.status")"

# Where the files went: the folder the wizard was given, found on the disk.
installed=""
for d in "$WINEPREFIX"/drive_c/*/; do
  [ -f "$d/bin/gcc.exe" ] && installed=${d%/} && break
done
if [ -n "$installed" ]; then
  echo "Installed into C:\\${installed##*/} ($installed): $(find "$installed" -type f | wc -l) files"
  (cd "$installed" && find . -maxdepth 2 | sort | head -20 | sed 's/^/  /')
fi
echo "Registry (HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER environment):"
for key in 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' 'HKCU\Environment'; do
  wine reg query "$key" </dev/null >"$work/reg.out" 2>/dev/null
  tr -d '\r' <"$work/reg.out" | grep -E '^ +(PATH|LIBRARY_PATH) ' | sed "s|^ *|  ${key%%\\*}: |"
done
echo "Program Manager text sent:"
sed 's/^/  /' "$work/executes.txt" 2>/dev/null || echo "  (none)"
if [ $interactive -eq 0 ]; then
  echo "The four pages as the installer showed them:"
  for shot in "${shots[@]}"; do echo "  $work/$shot.png"; done
fi
