#!/usr/bin/env bash
# The demo package's compiler, made from Debian's tcc source package:
#   scripts/build-tcc.sh WORK_DIR [ARCH]
# ARCH is i686 (the default: 32-bit Windows, as the package ships) or
# x86_64 (for the Windows tests on a kernel that runs no 32-bit programs).
# The source is fetched into WORK_DIR/source, built there as a Linux-hosted
# cross compiler for ARCH Win32 (WORK_DIR/cross), which then builds the
# compiler itself for Win32. WORK_DIR/tree is laid out as a GCC package lays
# itself out: bin\gcc.exe, include\ (and include\winapi), lib\ (libtcc1.a and
# the .def files of the system DLLs), doc\ with the compiler's licence.
set -euo pipefail
work=${1:?usage: build-tcc.sh WORK_DIR [i686|x86_64]}
# tcc's own name of the target.
case ${2:-i686} in
  i686) target=i386 ;;
  x86_64) target=x86_64 ;;
  *) echo "build-tcc: no architecture $2: i686 or x86_64" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
work=$(cd "$work" && pwd)
fail() { echo "build-tcc: $*" >&2; exit 1; }
started=$(date +%s.%N)

"$here/fetch-source.sh" tcc "$work/source" tcc.c
source_tree=$(ls -d "$work"/source/tcc-*/ | head -n1)
cross=$work/cross
rm -rf "$cross" "$work/tree" "$work/check"
cp -r "$source_tree" "$cross"
# A make above (CMake's, ours) must not hand its flags and variables down.
( cd "$cross" && unset MAKEFLAGS MFLAGS MAKELEVEL && ./configure && make -j"$(nproc)" "cross-$target-win32" ) >"$work/cross.log" 2>&1 ||
  { tail -n 20 "$work/cross.log" >&2; fail "the cross compiler did not build; see $work/cross.log"; }

# gcc.exe looks for everything one level up from its own folder, bin.
# libtcc1.a is named from that folder too, so it lies in lib\ beside the .def files.
settings() {  # SEPARATOR (the host's list separator) -> the defines, one a line
  printf '%s\n' -DTCC_TARGET_PE "-DTCC_TARGET_${target^^}" -DONE_SOURCE=1 \
    "-DCONFIG_TCC_SYSINCLUDEPATHS=\"{B}/../include$1{B}/../include/winapi\"" \
    '-DCONFIG_TCC_LIBPATHS="{B}/../lib"' '-DTCC_LIBTCC1="../lib/libtcc1.a"'
}
mapfile -t win32_settings < <(settings ';')
mapfile -t linux_settings < <(settings ':')
tree=$work/tree
mkdir -p "$tree/bin" "$tree/include" "$tree/lib" "$tree/doc"
( cd "$cross" && "./$target-win32-tcc" -B win32 -I include -L . "${win32_settings[@]}" -o "$tree/bin/gcc.exe" tcc.c ) \
  >"$work/gcc-exe.log" 2>&1 || { cat "$work/gcc-exe.log" >&2; fail "bin/gcc.exe did not build"; }
cp -r "$cross/win32/include/." "$tree/include/"
cp "$cross"/include/*.h "$cross/tcclib.h" "$tree/include/"
cp "$cross/$target-win32-libtcc1.a" "$tree/lib/libtcc1.a"
cp "$cross"/win32/lib/*.def "$tree/lib/"
cp "$cross/COPYING" "$tree/doc/COPYING.txt"

# The tree is checked where it lies, without Windows: the same compiler
# built for Linux, with gcc.exe's settings (lists separated by ':' there)
# and the tree's bin as its own folder, must compile and link a program from the tree's files alone.
mkdir -p "$work/check"
gcc -O1 -w "${linux_settings[@]}" -o "$work/check/twin" "$cross/tcc.c" -lm -ldl -lpthread >"$work/check/twin.log" 2>&1 ||
  { cat "$work/check/twin.log" >&2; fail "the check compiler did not build"; }
printf '#include <stdio.h>\n#include <windows.h>\nint main(void) { printf("%%lu\\n", GetTickCount()); return 0; }\n' >"$work/check/hello.c"
"$work/check/twin" -B "$tree/bin" -o "$work/check/hello.exe" "$work/check/hello.c" >"$work/check/hello.log" 2>&1 ||
  { cat "$work/check/hello.log" >&2; fail "the tree in $tree cannot compile a program with its own headers and libraries"; }
[ "$(head -c 2 "$work/check/hello.exe")" = MZ ] || fail "the check program is no Windows program"
awk -v a="$started" -v b="$(date +%s.%N)" -v t="$tree" -v v="$(cat "$cross/VERSION")" \
  -v m="$target" \
  'BEGIN { printf "tcc %s for %s Win32 built into %s in %.1f s\n", v, m, t, b - a }'
