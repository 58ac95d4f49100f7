#!/usr/bin/env bash
# Runs a command with its output kept in LOG, shown only when it fails:
#   scripts/quietly.sh LOG CMD [ARGS...]
set -uo pipefail
log=$1
shift
mkdir -p "$(dirname "$log")"
"$@" >>"$log" 2>&1 && exit 0
status=$?
cat "$log" >&2
echo "failed (status $status): $*; the whole output is in $log" >&2
exit "$status"
