#!/usr/bin/env bash
# Runs one Windows program in a Wine session: CTest's emulator.
#   scripts/wine-env.sh SESSION_DIR PROGRAM.exe [ARGS...]
# With the session of SESSION_DIR running (scripts/wine-session.sh start),
# the program runs in its prefix; without it, a private session of the
# program's own kind (32 or 64-bit) is started for it and stopped after it. The program's output is written to
# files and shown when it has ended: Wine's background processes would keep
# a pipe open after the program is gone. Exits with the program's status.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
session=${1:?usage: wine-env.sh SESSION_DIR PROGRAM [ARGS...]}
shift
[ $# -gt 0 ] || { echo "usage: wine-env.sh SESSION_DIR PROGRAM [ARGS...]" >&2; exit 2; }

# A hung program must not hold the whole run.
limit=${SETUP_WINE_TIMEOUT:-300}

session_running() {
  [ -f "$1/env" ] && [ -f "$1/xvfb.pid" ] && kill -0 "$(cat "$1/xvfb.pid")" 2>/dev/null
}

private=""
if ! session_running "$session"; then
  mkdir -p "$session"
  private=$(mktemp -d "$(cd "$session" && pwd)/private.XXXXXX")
  arch=$("$here/windows-arch.sh" --program "$1")
  "$here/wine-session.sh" start "$private" "$arch" >/dev/null
  session=$private
fi

out=$(mktemp "$session/out.XXXXXX")
err=$(mktemp "$session/err.XXXXXX")
cleanup() {
  rm -f "$out" "$err"
  if [ -n "$private" ]; then
    "$here/wine-session.sh" stop "$private" >/dev/null 2>&1 || true
    rm -rf "$private"
  fi
}
trap cleanup EXIT

status=0
(
  # shellcheck disable=SC1091
  . "$session/env"
  exec timeout --kill-after=10 "$limit" wine "$@"
) </dev/null >"$out" 2>"$err" || status=$?
cat "$out"
cat "$err" >&2
exit "$status"
