#!/usr/bin/env bash
# The one answer to "does this machine run 32-bit x86 programs?", which the
# Windows tests hang on: 32-bit Wine needs a kernel that runs them.
#   scripts/windows-arch.sh          i686 if it does, x86_64 if it does not:
#                                    the build the Windows tests run here
#   scripts/windows-arch.sh --note [WHAT]
#                                    the line that says what is run instead
#                                    (WHAT: the Windows tests, unless given),
#                                    empty on a machine that runs them
# The answer is found by running a 32-bit program: a tiny static i386 ELF
# (exit(0) through int 0x80), so that no 32-bit library is needed to ask.
set -euo pipefail

runs_i386() {
  local probe status=0
  probe=$(mktemp "${TMPDIR:-/tmp}/i386-probe.XXXXXX")
  # ELF header, one loadable segment at 0x08048000, then the code at 0x54:
  # mov eax, 1; xor ebx, ebx; int 0x80.
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\010\064\0\0\0\0\0\0\0\0\0\0\0\064\0\040\0\1\0\0\0\0\0\0\0''\1\0\0\0\0\0\0\0\0\200\4\010\0\200\4\010\135\0\0\0\135\0\0\0\5\0\0\0\0\020\0\0''\270\1\0\0\0\061\333\315\200' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  return "$status"
}

if [ "$(uname -m)" = x86_64 ] && ! runs_i386; then
  arch=x86_64
else
  arch=i686
fi
case "${1:-}" in
  "") echo "$arch" ;;
  --note)
    [ "$arch" = i686 ] ||
      echo "this machine's kernel runs no 32-bit x86 programs: ${2:-the Windows tests run on an x86_64 build of the same sources under 64-bit Wine (the shipped 32-bit programs are built, not run)}" ;;
  *) echo "usage: windows-arch.sh [--note]" >&2; exit 2 ;;
esac
