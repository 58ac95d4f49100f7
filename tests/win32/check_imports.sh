#!/usr/bin/env bash
# Each Windows program of the build is a console program of the build's
# machine type (its PE format as objdump names it; the unpacker a window
# program, which opens no console) that imports only DLLs every Windows has;
# setup.exe, pkgtree.exe and unpacker.exe restrict their DLL search at start,
# which leaves the fallback call in their imports and the newer call's name,
# looked up at run time, in their data:
#   check_imports.sh OBJDUMP BIN_DIR ARCH      ARCH: i686 or x86_64
set -euo pipefail
objdump=$1
bin=$2
case ${3:?usage: check_imports.sh OBJDUMP BIN_DIR i686|x86_64} in
  i686) format=pei-i386 ;;
  x86_64) format=pei-x86-64 ;;
  *) echo "no architecture $3: i686 or x86_64"; exit 1 ;;
esac
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|MSVCRT)\.DLL$'
status=0
count=0
for exe in "$bin"/*.exe; do
  [ -f "$exe" ] || continue
  count=$((count + 1))
  headers=$("$objdump" -p "$exe")
  grep -q "file format $format\$" <<<"$headers" || { echo "$exe: not $format"; status=1; }
  if [ "$(basename "$exe")" = unpacker.exe ]; then
    grep -q 'Subsystem[[:space:]]*00000002' <<<"$headers" || { echo "$exe: not a window program"; status=1; }
  else
    grep -q 'Subsystem[[:space:]]*00000003' <<<"$headers" || { echo "$exe: not a console program"; status=1; }
  fi
  while read -r dll; do
    if ! tr '[:lower:]' '[:upper:]' <<<"$dll" | grep -Eq "$allowed"; then
      echo "$exe: imports $dll"
      status=1
    fi
  done < <(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$headers")
done
for program in setup.exe pkgtree.exe unpacker.exe; do
  exe=$bin/$program
  if [ ! -f "$exe" ]; then
    echo "$exe: missing"
    status=1
  elif ! grep -Eq '^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+SetDllDirectoryA$' <<<"$("$objdump" -p "$exe")" ||
       ! grep -aq SetDefaultDllDirectories "$exe"; then
    echo "$exe: does not restrict its DLL search (no SetDllDirectoryA import or no SetDefaultDllDirectories)"
    status=1
  fi
done
if [ "$count" -eq 0 ]; then
  echo "no programs in $bin"
  exit 1
fi
[ "$status" -eq 0 ] && echo "$count programs import only system DLLs; setup.exe, pkgtree.exe and unpacker.exe restrict their DLL search"
exit "$status"
