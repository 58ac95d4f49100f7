#!/usr/bin/env bash
# Makes a package from a real tree of this machine with pkgtree, then runs
# the engine benchmark on it. Usage: scripts/bench.sh BUILD_DIR [TREE]
set -euo pipefail
build=$1
tree=${2:-/usr/lib/gcc/x86_64-linux-gnu/12}
work=$build/bench-data
mkdir -p "$work"
if [ ! -f "$work/package.done" ] || [ "$(cat "$work/package.done")" != "$tree" ]; then
  rm -rf "$work/package"
  echo "compressing $tree with pkgtree..."
  time "$build/bin/pkgtree" compress "$tree" "$work/package"
  echo "$tree" > "$work/package.done"
fi
echo "$build/bin/engine_bench $work/package $work/expanded 5"
"$build/bin/engine_bench" "$work/package" "$work/expanded" 5
