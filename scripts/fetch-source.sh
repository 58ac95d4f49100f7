#!/usr/bin/env bash
# Fetches a Debian source package into DIR, patched and unpacked
# (DIR/NAME-*/), unless a tree holding FILE is already there:
#   scripts/fetch-source.sh NAME DIR FILE
set -euo pipefail

name=${1:?usage: fetch-source.sh NAME DIR FILE}
dir=${2:?usage: fetch-source.sh NAME DIR FILE}
file=${3:?usage: fetch-source.sh NAME DIR FILE}
mkdir -p "$dir"
for existing in "$dir/$name"-*/"$file"; do
  [ -f "$existing" ] && exit 0
done
echo "fetching the $name source package into $dir"
# As root, apt warns that the download runs unsandboxed; the log keeps it.
( cd "$dir" && apt-get source -q "$name" </dev/null >fetch.log 2>&1 ) || {
  cat "$dir/fetch.log" >&2
  echo "fetch-source: apt-get source $name failed (is there a deb-src entry? run scripts/install-cross-deps.sh)" >&2
  exit 1
}
ls "$dir/$name"-*/"$file" >/dev/null
