#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each, two at a time, over the committed
# corpus (read only) and a working corpus in the build folder.
#   scripts/fuzz.sh FUZZ_BUILD_DIR SECONDS
set -uo pipefail
build=$1 seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
targets=(expand merge env inf tree manifest unpack)
mkdir -p "$build/artifacts"
run_one() {
  local t=$1
  mkdir -p "$build/corpus/$t"
  "$build/bin/fuzz_$t" -max_total_time="$seconds" -max_len=4096 -timeout=20 -rss_limit_mb=2048 \
    -artifact_prefix="$build/artifacts/$t-" "$build/corpus/$t" "$root/tests/corpus/$t" \
    >"$build/fuzz_$t.log" 2>&1
  local status=$?
  local runs
  runs=$(grep -o 'Done [0-9]* runs' "$build/fuzz_$t.log" | grep -o '[0-9]*' || echo 0)
  if [ $status -eq 0 ]; then
    echo "fuzz_$t: $runs runs in ${seconds}s, no finding"
  else
    echo "fuzz_$t: FAILED (status $status); the input is in $build/artifacts; log:"
    tail -40 "$build/fuzz_$t.log"
  fi
  return $status
}
failures=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pids=()
  for t in "${targets[@]:i:2}"; do
    run_one "$t" > "$build/fuzz_$t.summary" &
    pids+=($!)
  done
  for p in "${pids[@]}"; do wait "$p" || failures=$((failures + 1)); done
  for t in "${targets[@]:i:2}"; do cat "$build/fuzz_$t.summary"; done
done
echo "$(( ${#targets[@]} - failures )) passed, $failures failed"
exit $((failures > 0))
