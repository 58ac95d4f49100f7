#!/usr/bin/env bash
# Runs a command and, when it has ended, writes its exit status to FILE, which
# the robot (SETUP_ROBOT_ENDED) watches so that it stops waiting for a window
# of a program that is gone. A TERM is passed on to the command.
#   scripts/run-watched.sh FILE CMD [ARGS...]
set -u
ended=${1:?usage: run-watched.sh FILE CMD [ARGS...]}
shift
rm -f "$ended"
"$@" &
child=$!
trap 'kill "$child" 2>/dev/null' TERM INT
while :; do
  wait "$child"
  status=$?
  # A trapped signal ends the wait early; the command's own end ends the loop.
  kill -0 "$child" 2>/dev/null || break
done
echo "$status" >"$ended.part" && mv -f "$ended.part" "$ended"
exit "$status"
