#!/usr/bin/env bash
# The native half of the bench: makes the payload, a real GCC package (the
# i686 MinGW-w64 cross toolchain of this machine as one plain tree, symbolic
# links made into files), packs it with pkgtree, then times `pkgtree expand`
# against the pure libbzip2 decode of the same files into memory, and
# pkgtree compress, expand and verify on one core against all of them.
#   scripts/bench.sh BUILD_DIR [TREE]
# With TREE, that tree is the payload instead. Leaves BUILD_DIR/bench-data/plain
# and BUILD_DIR/bench-data/package for scripts/bench-under-wine.sh.
set -euo pipefail
build=$1
work=$build/bench-data
mkdir -p "$work"
if [ $# -ge 2 ]; then
  trees=("$2")
  what=$2
else
  trees=(/usr/lib/gcc/i686-w64-mingw32 /usr/i686-w64-mingw32)
  what="${trees[*]}"
fi
if [ ! -f "$work/package.done" ] || [ "$(cat "$work/package.done")" != "$what" ]; then
  rm -rf "$work/plain" "$work/package" "$work/package.done"
  for tree in "${trees[@]}"; do
    [ -d "$tree" ] || { echo "bench: no $tree (scripts/install-cross-deps.sh installs the cross toolchain)" >&2; exit 1; }
  done
  echo "making the payload from $what"
  if [ $# -ge 2 ]; then
    cp -rL "$2" "$work/plain"
  else
    # Laid out as an installed compiler: lib\gcc\i686-w64-mingw32 and i686-w64-mingw32.
    mkdir -p "$work/plain/lib/gcc"
    cp -rL /usr/lib/gcc/i686-w64-mingw32 "$work/plain/lib/gcc/"
    cp -rL /usr/i686-w64-mingw32 "$work/plain/"
  fi
  echo "$build/bin/pkgtree compress $work/plain $work/package"
  start=$(date +%s.%N)
  "$build/bin/pkgtree" compress "$work/plain" "$work/package"
  awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "compressed in %.1f s\n", b - a }'
  echo "$what" >"$work/package.done"
fi
echo "native: $build/bin/engine_bench $work/package $work/expanded 5 $build/bin/pkgtree"
echo "  (run N: $build/bin/pkgtree -j 1 expand $work/package $work/expanded/run-N, then every file decoded by BZ2_bzread into memory)"
"$build/bin/engine_bench" "$work/package" "$work/expanded" 5 "$build/bin/pkgtree"
echo "native: $build/bin/pkgtree_bench $build/bin/pkgtree $work/plain $work/package $work/jobs ${SETUP_BENCH_PKGTREE_RUNS:-3}"
"$build/bin/pkgtree_bench" "$build/bin/pkgtree" "$work/plain" "$work/package" "$work/jobs" "${SETUP_BENCH_PKGTREE_RUNS:-3}"
