#!/usr/bin/env bash
# The application manifest of each program that ships, read back from the
# linked program (windres reads its resource section) and checked as XML:
# one manifest, resource type 24, id 1; the program's requestedExecutionLevel
# in the namespace Windows reads it from, uiAccess false; the five supportedOS
# entries, Vista to 10 and 11; nothing else (no dependency such as visual
# styles, no windowsSettings such as DPI awareness).
#   application_manifest.sh WINDRES BIN_DIR
set -uo pipefail
[ $# -eq 2 ] || { echo "usage: application_manifest.sh WINDRES BIN_DIR" >&2; exit 2; }
windres=$1 bin=$2
command -v xmllint >/dev/null || { echo "FAILED: xmllint is missing (scripts/install-deps.sh installs libxml2-utils)"; exit 1; }
levels=(setup.exe=highestAvailable uninstall.exe=highestAvailable unpacker.exe=highestAvailable pkgtree.exe=asInvoker)
supported="{e2011457-1546-43c5-a5fe-008deee3d3f0} {35138b9a-5d96-4fbd-8e2d-a2440225f93a} {4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}
{1f676c76-80e1-4239-95bb-83d0f6d0da78} {8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
allowed="assembly trustInfo security requestedPrivileges requestedExecutionLevel compatibility application supportedOS"
failures=0
query() { xmllint --xpath "$1" - <<<"$xml" 2>/dev/null; }
for entry in "${levels[@]}"; do
  program=${entry%%=*} level=${entry#*=} failures_before=$failures
  failed() { echo "FAILED: $program: $1"; failures=$((failures + 1)); }
  rc=$("$windres" -O rc -i "$bin/$program" 2>&1) || { failed "windres cannot read its resources: $rc"; continue; }
  # windres writes the manifest as quoted lines, each quote doubled and each line ending in \n.
  [ "$(grep -c '^[^ ]* 24 ' <<<"$rc")" = 1 ] && grep -q '^1 24 ' <<<"$rc" ||
    { failed "not one manifest with id 1: $(grep '^[^ ]* 24 ' <<<"$rc" | tr '\n' ' ')"; continue; }
  xml=$(sed -n '/^1 24 /,/^END/ s/^ *"\(.*\)"$/\1/p' <<<"$rc" | sed 's/""/"/g; s/\\n$//')
  xmllint --noout - <<<"$xml" 2>/dev/null || { failed "its manifest is no well-formed XML"; continue; }
  asked=$(query 'string(/*[local-name()="assembly" and namespace-uri()="urn:schemas-microsoft-com:asm.v1" and @manifestVersion="1.0"]
    //*[local-name()="requestedExecutionLevel" and namespace-uri()="urn:schemas-microsoft-com:asm.v3"]/@level)')
  ui=$(query 'string(//*[local-name()="requestedExecutionLevel"]/@uiAccess)')
  os=$(query '//*[local-name()="supportedOS" and namespace-uri()="urn:schemas-microsoft-com:compatibility.v1"]/@Id' |
       sed 's/ *Id="\([^"]*\)"/\1\n/g' | sed '/^$/d' | sort)
  others=$(query "count(//*[not(contains(' $allowed ', concat(' ', local-name(), ' ')))])")
  [ "$asked" = "$level" ] || failed "requestedExecutionLevel is \"$asked\", not $level"
  [ "$ui" = false ] || failed "uiAccess is \"$ui\", not false"
  [ "$os" = "$(tr ' ' '\n' <<<"$supported" | sort)" ] || failed "supportedOS entries: $(echo $os)"
  [ "$others" = 0 ] || failed "$others elements beyond the execution level and the supported versions"
  [ $failures -gt "$failures_before" ] || echo "ok: $program carries its manifest: $level, Windows Vista to 11"
done
exit $((failures > 0))
