#!/usr/bin/env bash
# The version resource of setup.exe as the linker left it (windres reads the
# program's resource section back): the project's version as file and product
# version, in numbers and in text, and a description.
#   version_resource.sh WINDRES SETUP_EXE VERSION
set -uo pipefail
windres=$1 exe=$2 version=$3
rc=$("$windres" -J coff -O rc -i "$exe") || { echo "windres cannot read the resources of $exe"; exit 1; }
numbers="${version//./, }, 0"
expected="FILEVERSION $numbers
PRODUCTVERSION $numbers
\"FileDescription\", \"Setup program of the GCC compiler package\"
\"FileVersion\", \"$version\"
\"ProductVersion\", \"$version\""
got=$(sed -n 's/^ *\(FILEVERSION .*\|PRODUCTVERSION .*\)$/\1/p; s/^ *VALUE \("File\(Description\|Version\)".*\|"ProductVersion".*\)$/\1/p' <<<"$rc")
if [ "$got" = "$expected" ]; then echo "ok: setup.exe carries version $version"; exit 0; fi
printf 'expected:\n%s\ngot:\n%s\n' "$expected" "$got"
exit 1
