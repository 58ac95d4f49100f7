#!/usr/bin/env bash
# Makes the demo package folder: its source tree, env and inf (the build
# puts setup.exe beside them).
#   make-demo-package.sh PKGTREE COMPILER_TREE OUT_DIR
#   make-demo-package.sh --layout COMPILER_TREE OUT_DIR
# COMPILER_TREE is the compiler as scripts/build-tcc.sh lays it out
# (bin\gcc.exe, include, lib, doc). OUT_DIR/plain is the tree as it must
# come out; OUT_DIR/package is what a user receives: setup.exe, source (made
# by pkgtree compress), env and inf. With --layout only OUT_DIR/plain,
# OUT_DIR/env and OUT_DIR/inf are made, for `make package` to make the
# package of.
set -euo pipefail
pkgtree=$1 compiler=$2 out=$3
if [ "$pkgtree" = --layout ]; then
  settings=$out
else
  settings=$out/package
  [ -x "$pkgtree" ] || { echo "make-demo-package: no native pkgtree at '$pkgtree'" >&2; exit 1; }
fi
[ -f "$compiler/bin/gcc.exe" ] || { echo "make-demo-package: no compiler tree at '$compiler' (scripts/build-tcc.sh makes one)" >&2; exit 1; }

rm -rf "$out/plain" "$out/package"
plain=$out/plain
mkdir -p "$plain"
cp -r "$compiler/." "$plain/"
# What a package also holds: nested folders, an empty one, a read-only file,
# a larger binary file, and the target's headers for many small files (out of
# the compiler's own include folder, whose headers it must find first).
mkdir -p "$plain/lib/gcc/i686-w64-mingw32/12" "$plain/share/empty" "$plain/i686-w64-mingw32/include"
printf 'This is the demo package of the GCC setup program.\r\n' > "$plain/doc/README.txt"
chmod a-w "$plain/doc/README.txt"
for lib in /usr/lib/gcc/i686-w64-mingw32/*/libgcc.a; do cp "$lib" "$plain/lib/gcc/i686-w64-mingw32/12/libgcc.a"; break; done
cat /usr/lib/gcc/i686-w64-mingw32/*/libstdc++.a > "$plain/lib/libbig.a" 2>/dev/null || head -c 8000000 /dev/zero > "$plain/lib/libbig.a"
cp -r /usr/share/mingw-w64/include/. "$plain/i686-w64-mingw32/include/" 2>/dev/null ||
  cp -r /usr/i686-w64-mingw32/include/. "$plain/i686-w64-mingw32/include/"

mkdir -p "$settings"
[ "$pkgtree" = --layout ] || "$pkgtree" compress "$plain" "$out/package/source"
cat > "$settings/env" <<'ENV'
# Environment of the demo package: folders relative to the installation folder.
PATH
REG_EXPAND_SZ
\bin
::
LIBRARY_PATH
REG_SZ
\lib;\lib\gcc\i686-w64-mingw32\12
::
ENV
cat > "$settings/inf" <<'INF'
GCC Demo
::
$\bin\gcc.exe,GCC Demo Compiler
::
GCC Demo
INF
echo "demo package: $settings ($(find "$plain" -type f | wc -l) files)"
