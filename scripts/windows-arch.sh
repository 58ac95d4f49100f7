#!/usr/bin/env bash
# Which Windows programs run here, and of which kind a program is.
#   scripts/windows-arch.sh DIR      i686 if this machine runs 32-bit x86
#                                    programs, x86_64 if it does not: the build
#                                    the Windows tests run here. The probe runs
#                                    from DIR (a build folder, made if missing).
#   scripts/windows-arch.sh --program FILE
#                                    i686 or x86_64: the machine a Windows
#                                    program (PE image) is built for
#   scripts/windows-arch.sh --note ARCH [WHAT]
#                                    the line that says what is run instead on
#                                    the x86_64 route (WHAT: the Windows tests,
#                                    unless given); empty for i686
# The Makefile asks once (WIN_ARCH) and hands the answer to the other scripts.
# The answer is found by running a 32-bit program: a tiny static i386 ELF
# (exit(0) through int 0x80), so that no 32-bit library is needed to ask.
set -euo pipefail
usage="usage: windows-arch.sh DIR | --program FILE | --note ARCH [WHAT]"

probe() {
  local dir=$1 status=0 native
  mkdir -p "$dir"
  # A folder that runs no program at all (a noexec mount) says nothing about
  # 32-bit support: ask a program of this machine's own first.
  native=$dir/.native-probe
  cp "$(type -P true)" "$native"
  "$native" 2>/dev/null || status=$?
  rm -f "$native"
  if [ "$status" -ne 0 ]; then
    echo "windows-arch: $dir cannot run programs (status $status; mounted noexec?): give WIN_ARCH=i686 or WIN_ARCH=x86_64, or another BUILD" >&2
    return 1
  fi
  local i386=$dir/.i386-probe
  # ELF header, one loadable segment at 0x08048000, then the code at 0x54:
  # mov eax, 1; xor ebx, ebx; int 0x80.
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\010\064\0\0\0\0\0\0\0\0\0\0\0\064\0\040\0\1\0\0\0\0\0\0\0''\1\0\0\0\0\0\0\0\0\200\4\010\0\200\4\010\135\0\0\0\135\0\0\0\5\0\0\0\0\020\0\0''\270\1\0\0\0\061\333\315\200' >"$i386"
  chmod +x "$i386"
  "$i386" 2>/dev/null || status=$?
  rm -f "$i386"
  if [ "$(uname -m)" = x86_64 ] && [ "$status" -ne 0 ]; then echo x86_64; else echo i686; fi
}

# The COFF header's Machine field, found through the DOS header's e_lfanew.
program_arch() {
  local file=$1 offset signature machine
  [ -f "$file" ] || { echo "windows-arch: no program $file" >&2; return 2; }
  offset=$(od -An -t u4 -j 60 -N 4 "$file" 2>/dev/null | tr -d ' ')
  signature=$(od -An -c -j "${offset:-0}" -N 4 "$file" 2>/dev/null | tr -d ' ')
  machine=$(od -An -t x2 -j $(( ${offset:-0} + 4 )) -N 2 "$file" 2>/dev/null | tr -d ' ')
  if [ "$(head -c 2 "$file")" != MZ ] || [ "$signature" != 'PE\0\0' ]; then
    echo "windows-arch: $file is not a Windows program" >&2; return 2
  fi
  case $machine in
    014c) echo i686 ;;
    8664) echo x86_64 ;;
    *) echo "windows-arch: $file is built for machine 0x$machine" >&2; return 2 ;;
  esac
}

case "${1:-}" in
  "") echo "$usage" >&2; exit 2 ;;
  --program) program_arch "${2:?$usage}" ;;
  --note)
    case "${2:?$usage}" in
      i686) ;;
      x86_64) echo "this machine's kernel runs no 32-bit x86 programs: ${3:-the Windows tests run on an x86_64 build of the same sources under 64-bit Wine (the shipped 32-bit programs run in the i686 stage)}" ;;
      *) echo "$usage" >&2; exit 2 ;;
    esac ;;
  -*) echo "$usage" >&2; exit 2 ;;
  *) probe "$1" ;;
esac
