#!/usr/bin/env bash
# Fetches Debian's source of the compression library into DIR, patched and
# unpacked (DIR/bzip2-*/), unless it is already there:
#   scripts/fetch-bzip2-source.sh DIR
set -euo pipefail

dir=${1:?usage: fetch-bzip2-source.sh DIR}
mkdir -p "$dir"
for existing in "$dir"/bzip2-*/bzlib.c; do
  [ -f "$existing" ] && exit 0
done
echo "fetching the bzip2 source package into $dir"
# As root, apt warns that the download runs unsandboxed; the log keeps it.
( cd "$dir" && apt-get source -q bzip2 </dev/null >fetch.log 2>&1 ) || {
  cat "$dir/fetch.log" >&2
  echo "fetch-bzip2-source: apt-get source bzip2 failed (is there a deb-src entry? run scripts/install-cross-deps.sh)" >&2
  exit 1
}
ls "$dir"/bzip2-*/bzlib.c >/dev/null
