#!/usr/bin/env bash
# One real run of setup.exe under the Wine bench, driven by the robot.
#   run-setup.sh BENCH_DIR TOOLS_DIR PACKAGE_DIR CASE_DIR [options] [STEP...]
# Options: --no-progman (no Program Manager stand-in answers), --program P
# (run P of PACKAGE_DIR in place of setup.exe: a one-file package), --arg A (an
# argument for the program, repeatable), --trace-text (every text setup.exe
# draws, from Wine's own trace of the drawing call, into texts.txt as
# "X Y TEXT" lines, and the font faces Wine chose into fonts.txt),
# --trace-loads (the path of every DLL Wine loaded into loads.txt). Steps go
# to robot.exe in runs; a step "shot:NAME" saves a screenshot CASE_DIR/NAME.png
# between runs, and "after:MS" waits before the next step.
# Leaves in CASE_DIR: setup.out, setup.err, setup.status, robot.out,
# executes.txt (the Program Manager texts received), the screenshots.
# Exits 0 when the robot did every step and every screenshot was taken; a
# screenshot that cannot be taken, or setup.exe ending before the robot is
# done, is named in one line on standard error and in robot.out.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../scripts/imagemagick.sh
. "$here/../../scripts/imagemagick.sh"
bench=$1 tools=$2 package=$3 case=$4
shift 4
progman=1
program=setup.exe
trace=0
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --no-progman) progman=0; shift ;;
    --arg) args+=("$2"); shift 2 ;;
    --program) program=$2; shift 2 ;;
    --trace-text) trace=1; shift ;;
    --trace-loads) trace=2; shift ;;
    *) break ;;
  esac
done
mkdir -p "$case"
case=$(cd "$case" && pwd)
# shellcheck disable=SC1091
. "$bench/env"
rm -f "$case"/{setup.out,setup.err,setup.status,setup.ended,robot.out,executes.txt,progman.ready,texts.txt,fonts.txt,loads.txt}
fail() { echo "$1" >>"$case/robot.out"; echo "run-setup: $1" >&2; }

# Screenshots need ImageMagick's import: without it the run fails now.
import=""
for step in "$@"; do
  case "$step" in
    shot:*) import=$(imagemagick import 2>"$case/import.why") || {
              fail "screenshot ${step#shot:} cannot be taken: $(cat "$case/import.why")"; exit 1; }
            break ;;
  esac
done

standin=""
if [ $progman -eq 1 ]; then
  wine "$tools/progman_standin.exe" "$(winepath -w "$case/executes.txt")" "$(winepath -w "$case/progman.ready")" \
    </dev/null >"$case/progman.out" 2>&1 &
  standin=$!
  for _ in $(seq 200); do [ -f "$case/progman.ready" ] && break; sleep 0.1; done
fi

debug=$WINEDEBUG
[ $trace -ne 1 ] || debug=trace+font
[ $trace -ne 2 ] || debug=+loaddll
# When setup.exe has ended, its status is written to setup.ended, where the
# robot looks while it waits: a program that is gone opens no window.
( cd "$package" && WINEDEBUG=$debug exec "$here/../../scripts/run-watched.sh" "$case/setup.ended" \
    timeout --kill-after=5 "${SETUP_E2E_TIMEOUT:-300}" wine "$program" "${args[@]}" \
    </dev/null >"$case/setup.out" 2>"$case/setup.err" ) &
runner=$!
SETUP_ROBOT_ENDED=$(winepath -w "$case/setup.ended" 2>/dev/null)
export SETUP_ROBOT_ENDED

robot_status=0
run_robot() {
  [ $# -gt 0 ] || return 0
  # Into a file, never a pipe; the console's CR LF line ends are made LF.
  wine "$tools/robot.exe" "$@" </dev/null >"$case/robot.part" 2>&1 || robot_status=1
  tr -d '\r' <"$case/robot.part" >>"$case/robot.out"
}
batch=()
shots_failed=0
for step in "$@"; do
  case "$step" in
    shot:*)
      run_robot "${batch[@]}"; batch=()
      "$import" -window root "$case/${step#shot:}.png" >"$case/import.out" 2>&1 ||
        { shots_failed=1; fail "screenshot ${step#shot:} failed: $(head -n1 "$case/import.out")"; }
      ;;
    after:*)
      run_robot "${batch[@]}"; batch=()
      sleep "$(awk "BEGIN { print ${step#after:} / 1000 }")"
      ;;
    *) batch+=("$step") ;;
  esac
done
run_robot "${batch[@]}"

# A robot that gave up leaves the installer waiting for a user: end it.
[ $robot_status -eq 0 ] || kill "$runner" 2>/dev/null
wait $runner
echo $? >"$case/setup.status"
if [ $robot_status -ne 0 ] && grep -q '^robot: the program ended' "$case/robot.out"; then
  # Its own words say why: Wine's, or the shell's when it never started.
  fail "setup.exe ended with status $(cat "$case/setup.status") before the robot was done: $(cat "$case/setup.err" "$case/setup.out" | grep -m1 . || echo "no message")"
fi
if [ $trace -eq 1 ]; then
  # NtGdiExtTextOutW HDC, X, Y, FLAGS, RECT, L"TEXT", COUNT, ...
  grep -a 'NtGdiExtTextOutW' "$case/setup.err" |
    sed -n 's/^.*NtGdiExtTextOutW [^,]*, \(-\{0,1\}[0-9]*\), \(-\{0,1\}[0-9]*\), [^L]*L"\(.*\)", [0-9]*, [^ ]*$/\1 \2 \3/p' |
    sed 's/\\\\/\\/g' >"$case/texts.txt"  # the trace doubles each backslash
  grep -a 'select_font Chosen: ' "$case/setup.err" | sed -n 's/^.*Chosen: L"\([^"]*\)".*$/\1/p' | sort -u >"$case/fonts.txt"
  : >"$case/setup.err"  # the rest of the font trace is large and of no use here
elif [ $trace -eq 2 ]; then
  grep -a 'trace:loaddll:.* Loaded L"' "$case/setup.err" | sed 's/^.* Loaded L"\([^"]*\)".*$/\1/; s/\\\\/\\/g' >"$case/loads.txt"
  grep -av 'trace:loaddll:' "$case/setup.err" >"$case/setup.err.rest"
  mv "$case/setup.err.rest" "$case/setup.err"
fi
[ -n "$standin" ] && kill "$standin" 2>/dev/null
wait 2>/dev/null
echo "setup status $(cat "$case/setup.status" 2>/dev/null), robot status $robot_status" >>"$case/robot.out"
[ $shots_failed -eq 0 ] || exit 1
exit $robot_status
