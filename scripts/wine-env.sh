#!/usr/bin/env bash
# Runs one Windows program under the Wine bench: CTest's emulator.
#   scripts/wine-env.sh BENCH_DIR PROGRAM.exe [ARGS...]
# With the bench of BENCH_DIR running (scripts/wine-bench.sh start), the
# program runs in its prefix; without it, a private bench is started for
# this one program and stopped after it. The program's output is written to
# files and shown when it has ended: Wine's background processes would keep
# a pipe open after the program is gone. Exits with the program's status.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bench=${1:?usage: wine-env.sh BENCH_DIR PROGRAM [ARGS...]}
shift
[ $# -gt 0 ] || { echo "usage: wine-env.sh BENCH_DIR PROGRAM [ARGS...]" >&2; exit 2; }

# A hung program must not hold the whole run.
limit=${SETUP_WINE_TIMEOUT:-300}

bench_running() {
  [ -f "$1/env" ] && [ -f "$1/xvfb.pid" ] && kill -0 "$(cat "$1/xvfb.pid")" 2>/dev/null
}

private=""
if ! bench_running "$bench"; then
  mkdir -p "$bench"
  private=$(mktemp -d "$(cd "$bench" && pwd)/private.XXXXXX")
  "$here/wine-bench.sh" start "$private" >/dev/null
  bench=$private
fi

out=$(mktemp "$bench/out.XXXXXX")
err=$(mktemp "$bench/err.XXXXXX")
cleanup() {
  rm -f "$out" "$err"
  if [ -n "$private" ]; then
    "$here/wine-bench.sh" stop "$private" >/dev/null 2>&1 || true
    rm -rf "$private"
  fi
}
trap cleanup EXIT

status=0
(
  # shellcheck disable=SC1091
  . "$bench/env"
  exec timeout --kill-after=10 "$limit" wine "$@"
) </dev/null >"$out" 2>"$err" || status=$?
cat "$out"
cat "$err" >&2
exit "$status"
