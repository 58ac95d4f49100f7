#!/usr/bin/env bash
# pkgtree package end to end: a good package from the installed layout's
# setup.exe, ENV and INF taken from the package they replace, each refusal,
# failures after the folder was begun (a refused name under compress, a check
# problem, an interrupt) leaving OUT as it was, a missing setup.exe, the version.
#   pkgtree_package_test.sh PKGTREE VERSION
set -u
built=$(realpath "$1") version=$2
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }
# What OUT holds, names, modes and bytes, to tell that a run left it as it was.
state() { (cd "$1" && find . -printf '%p %y %m %s\n' | sort && find . -type f -exec md5sum {} + | sort); }
# OUT alone beside OUT: no staging folder left.
alone() { [ "$(ls -A "$work" | grep "^ship")" = ship ]; }

# As installed: bin/pkgtree and share/gcc-setup/setup.exe.
mkdir -p "$work/usr/bin" "$work/usr/share/gcc-setup"
cp "$built" "$work/usr/bin/pkgtree"
pkgtree=$work/usr/bin/pkgtree
head -c 5000 /dev/urandom >"$work/usr/share/gcc-setup/setup.exe"
mkdir -p "$work/plain/bin" "$work/plain/empty"
head -c 300000 /dev/urandom >"$work/plain/bin/gcc.exe"
for i in $(seq 1 20); do seq "$i" 2000 >"$work/plain/bin/f$i.h"; done
printf 'PATH\nREG_EXPAND_SZ\n\\bin\n::\n' >"$work/env"
printf 'GCC\n::\n$\\bin\\gcc.exe,Compiler\n::\nGCC\n' >"$work/inf"
out=$work/ship
mkdir -p "$out/source/old"
echo "the maker's own" >"$out/notes.txt"
echo stale >"$out/source/old/file"

"$pkgtree" -q package --folder 'd:\gcc' "$work/plain" "$work/env" "$work/inf" "$out" >"$work/good.out" 2>"$work/good.err"
check "a good tree gives a package: status 0, verified, checked, ready" '[ $? -eq 0 ] && [ ! -s "$work/good.err" ] &&
  grep -qx "verify: all well" "$work/good.out" && grep -qx "check: all well" "$work/good.out" &&
  grep -qxF "  [CreateGroup(GCC, )][AddItem(d:\\gcc\\bin\\gcc.exe,Compiler)][ShowGroup(GCC,4, )][ExitProgman(1)]" "$work/good.out" &&
  grep -qx "== ready to ship: $out (setup.exe, source, env, inf)" "$work/good.out"'
"$pkgtree" expand "$out/source" "$work/expanded" >/dev/null
check "its source expands to the plain tree; the earlier source is gone" 'diff -r "$work/plain" "$work/expanded" && [ ! -e "$out/source/old" ]'
check "setup.exe is the installed one, env and inf the given ones" \
  'cmp -s "$work/usr/share/gcc-setup/setup.exe" "$out/setup.exe" && cmp -s "$work/env" "$out/env" && cmp -s "$work/inf" "$out/inf"'
check "only the four names were replaced; nothing is left beside OUT" \
  '[ "$(cat "$out/notes.txt")" = "the maker'"'"'s own" ] && alone'

# ENV and INF edited in the package folder, then the package made again.
printf 'LIB\nREG_SZ\n\\lib\n::\n' >>"$out/env"
cp "$out/env" "$work/env-edited"
"$pkgtree" -q package "$work/plain" "$out/env" "$out/inf" "$out" >"$work/again.out" 2>&1
check "ENV and INF may live in OUT: read before anything is replaced" \
  '[ $? -eq 0 ] && cmp -s "$work/env-edited" "$out/env" && grep -q "  LIB  REG_SZ  c:.program files.gcc.lib" "$work/again.out"'

before=$(state "$out")
refused() {  # WHAT EXPECTED_LINE ARGS...
  local what=$1 line=$2
  shift 2
  "$pkgtree" -q package "$@" >"$work/refused.out" 2>"$work/refused.err"
  local rc=$?
  check "$what: status 1, one line, OUT as it was" \
    '[ $rc -eq 1 ] && [ "$(cat "$work/refused.err")" = "$line" ] && [ "$(state "$out")" = "$before" ] && alone'
}
refused "PLAIN inside OUT (OUT/source)" \
  "pkgtree: PLAIN $out/source lies inside OUT $out: making the package would replace it" "$out/source" "$work/env" "$work/inf" "$out"
refused "OUT inside PLAIN" \
  "pkgtree: OUT $work/plain/pkg lies inside PLAIN $work/plain: the package would be part of its own tree" \
  "$work/plain" "$work/env" "$work/inf" "$work/plain/pkg"
mkdir "$work/plain/empty/none"
refused "an empty PLAIN" "pkgtree: PLAIN $work/plain/empty holds no file: the package would install nothing" \
  "$work/plain/empty" "$work/env" "$work/inf" "$out"
rmdir "$work/plain/empty/none"
"$built" -q package "$work/plain" "$work/env" "$work/inf" "$out" >/dev/null 2>"$work/nosetup.err"
check "no setup.exe: status 1, one line saying where it looked, OUT as it was" '[ $? -eq 1 ] &&
  [ "$(cat "$work/nosetup.err")" = "pkgtree: no setup.exe: looked for $(dirname "$(dirname "$built")")/share/gcc-setup/setup.exe (give one with --setup FILE)" ] &&
  [ "$(state "$out")" = "$before" ]'

# Failures once the staging folder is begun: compress stops at a name
# Windows cannot hold; check finds an env block that no "::" closes.
mkdir -p "$work/bad-name/bin" && cp "$work/plain/bin/f1.h" "$work/bad-name/bin/" && : >"$work/bad-name/bin/aux.h"
"$pkgtree" -q package "$work/bad-name" "$work/env" "$work/inf" "$out" >/dev/null 2>"$work/compress.err"
check "a compress failure: status 1, its message, OUT as it was, no staging folder" '[ $? -eq 1 ] &&
  grep -q "^pkgtree: .*/bad-name/bin/aux.h: a name the installer refuses" "$work/compress.err" &&
  grep -qx "pkgtree: nothing replaced: $out is as it was" "$work/compress.err" &&
  [ "$(state "$out")" = "$before" ] && alone'
rm -r "$work/bad-name"
printf 'PATH\nREG_SZ\n\\bin\n' >"$work/open-env"
"$pkgtree" -q package "$work/plain" "$work/open-env" "$work/inf" "$out" >"$work/check.out" 2>&1
check "a check problem after verify passed: status 1, OUT as it was" '[ $? -eq 1 ] && grep -qx "check: 2 problems" "$work/check.out" &&
  [ "$(state "$out")" = "$before" ] && alone'
rm "$work/open-env"
mkdir -p "$work/big"
head -c 40000000 /dev/urandom >"$work/big/large.bin"
"$pkgtree" -q -j 1 package "$work/big" "$work/env" "$work/inf" "$out" >/dev/null 2>&1 &
runner=$!
sleep 1
kill -TERM $runner
wait $runner
rc=$?
check "an interrupt (SIGTERM): status 143, OUT as it was, no staging folder" \
  '[ $rc -eq 143 ] && [ "$(state "$out")" = "$before" ] && alone'

"$pkgtree" package "$work/plain" "$work/env" "$work/inf" >/dev/null 2>"$work/usage.err"
check "three operands: usage, status 2" '[ $? -eq 2 ] && grep -q "^usage: pkgtree .*package" "$work/usage.err"'
check "--version prints the project's version" '[ "$("$pkgtree" --version)" = "pkgtree $version" ]'
"$pkgtree" --help >"$work/help.out" 2>"$work/help.err"
check "--help: the usage on standard output, status 0" '[ $? -eq 0 ] && grep -q "package \[--setup FILE\]" "$work/help.out" && [ ! -s "$work/help.err" ]'
exit $((failures > 0))
