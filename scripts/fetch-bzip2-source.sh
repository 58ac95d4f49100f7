#!/usr/bin/env bash
# Fetches Debian's source of the compression library into DIR, patched and
# unpacked (DIR/bzip2-*/), unless it is already there:
#   scripts/fetch-bzip2-source.sh DIR
set -euo pipefail
exec "$(dirname "$0")/fetch-source.sh" bzip2 "${1:?usage: fetch-bzip2-source.sh DIR}" bzlib.c
