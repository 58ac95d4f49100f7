#!/usr/bin/env bash
# One real run of setup.exe under the Wine bench, driven by the robot.
#   run-setup.sh BENCH_DIR TOOLS_DIR PACKAGE_DIR CASE_DIR [options] [STEP...]
# Options: --no-progman (no Program Manager stand-in answers), --arg A (an
# argument for setup.exe, repeatable), --trace-text (every text setup.exe
# draws, from Wine's own trace of the drawing call, into texts.txt as
# "X Y TEXT" lines). Steps go to robot.exe in runs; a step
# "shot:NAME" saves a screenshot CASE_DIR/NAME.png between runs, and
# "after:MS" waits before the next step.
# Leaves in CASE_DIR: setup.out, setup.err, setup.status, robot.out,
# executes.txt (the Program Manager texts received), the screenshots.
set -uo pipefail
bench=$1 tools=$2 package=$3 case=$4
shift 4
progman=1
trace=0
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --no-progman) progman=0; shift ;;
    --arg) args+=("$2"); shift 2 ;;
    --trace-text) trace=1; shift ;;
    *) break ;;
  esac
done
mkdir -p "$case"
case=$(cd "$case" && pwd)
# shellcheck disable=SC1091
. "$bench/env"
rm -f "$case"/{setup.out,setup.err,setup.status,robot.out,executes.txt,progman.ready,texts.txt}

standin=""
if [ $progman -eq 1 ]; then
  wine "$tools/progman_standin.exe" "$(winepath -w "$case/executes.txt")" "$(winepath -w "$case/progman.ready")" \
    </dev/null >"$case/progman.out" 2>&1 &
  standin=$!
  for _ in $(seq 200); do [ -f "$case/progman.ready" ] && break; sleep 0.1; done
fi

debug=$WINEDEBUG
[ $trace -eq 0 ] || debug=trace+font
( cd "$package" && WINEDEBUG=$debug exec timeout --kill-after=5 "${SETUP_E2E_TIMEOUT:-300}" wine setup.exe "${args[@]}" \
    </dev/null >"$case/setup.out" 2>"$case/setup.err" ) &
runner=$!

robot_status=0
run_robot() {
  [ $# -gt 0 ] || return 0
  # Into a file, never a pipe; the console's CR LF line ends are made LF.
  wine "$tools/robot.exe" "$@" </dev/null >"$case/robot.part" 2>&1 || robot_status=1
  tr -d '\r' <"$case/robot.part" >>"$case/robot.out"
}
batch=()
for step in "$@"; do
  case "$step" in
    shot:*)
      run_robot "${batch[@]}"; batch=()
      import -window root "$case/${step#shot:}.png" >/dev/null 2>&1 || echo "screenshot ${step#shot:} failed" >>"$case/robot.out"
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
if [ $trace -eq 1 ]; then
  # NtGdiExtTextOutW HDC, X, Y, FLAGS, RECT, L"TEXT", COUNT, ...
  grep -a 'NtGdiExtTextOutW' "$case/setup.err" |
    sed -n 's/^.*NtGdiExtTextOutW [^,]*, \(-\{0,1\}[0-9]*\), \(-\{0,1\}[0-9]*\), [^L]*L"\(.*\)", [0-9]*, [^ ]*$/\1 \2 \3/p' |
    sed 's/\\\\/\\/g' >"$case/texts.txt"  # the trace doubles each backslash
  : >"$case/setup.err"  # the rest of the font trace is large and of no use here
fi
[ -n "$standin" ] && kill "$standin" 2>/dev/null
wait 2>/dev/null
echo "setup status $(cat "$case/setup.status" 2>/dev/null), robot status $robot_status" >>"$case/robot.out"
exit $robot_status
