#!/usr/bin/env bash
# pkgtree package end to end: a good package from the installed layout's
# setup.exe, one with --uninstaller, ENV and INF taken from the package they
# replace, each refusal (a setup.exe that is no 32-bit Windows program among
# them), a long OUT, --sign with a throwaway test certificate, failures after
# the folder was begun (a signing command that fails or leaves the file
# unsigned or broken, a check problem, an interrupt) leaving OUT as it was, a
# missing setup.exe, the version and the help.
#   pkgtree_package_test.sh PKGTREE VERSION
set -u
built=$(realpath "$1") version=$2
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }
# shellcheck source=pe_image.sh
. "$(dirname "$0")/pe_image.sh"
# What OUT holds, names, modes and bytes, to tell that a run left it as it was.
state() { (cd "$1" && find . -printf '%p %y %m %s\n' | sort && find . -type f -exec md5sum {} + | sort); }
# OUT alone beside OUT: no staging folder left.
alone() { [ "$(ls -A "$work" | grep "^ship")" = ship ]; }

# As installed: bin/pkgtree, share/gcc-setup/setup.exe and uninstall.exe.
mkdir -p "$work/usr/bin" "$work/usr/share/gcc-setup"
cp "$built" "$work/usr/bin/pkgtree"
pkgtree=$work/usr/bin/pkgtree
pe_image 14c "$work/usr/share/gcc-setup/setup.exe"
pe_image 14c "$work/usr/share/gcc-setup/uninstall.exe"
head -c 7000 /dev/urandom >>"$work/usr/share/gcc-setup/uninstall.exe"
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

# --uninstaller: uninstall.exe and the list of what the package installs
# into source, the item that starts it last among the inf's items.
cp "$work/inf" "$work/inf-before"
"$pkgtree" -q package --uninstaller --folder 'd:\gcc' "$work/plain" "$work/env" "$work/inf" "$work/uninstaller-package" \
  >"$work/un.out" 2>"$work/un.err"
check "--uninstaller: status 0, checked, the item in the Program Manager text" '[ $? -eq 0 ] && [ ! -s "$work/un.err" ] &&
  grep -qx "check: all well" "$work/un.out" && grep -qF "[AddItem(d:\gcc\uninstall.exe,Uninstall GCC)][ShowGroup(" "$work/un.out"'
"$pkgtree" -q expand "$work/uninstaller-package/source" "$work/un-expanded" >/dev/null
check "its source: the plain tree, uninstall.exe from beside setup.exe, uninstall.lst" \
  'diff -r -x uninstall.exe -x uninstall.lst "$work/plain" "$work/un-expanded" &&
   cmp -s "$work/usr/share/gcc-setup/uninstall.exe" "$work/un-expanded/uninstall.exe" && [ -f "$work/un-expanded/uninstall.lst" ]'
listed() { sed -n "s/^$1 //p" "$work/un-expanded/uninstall.lst" | sed 's/^[0-9]* [0-9a-f]* //' | tr '\\' / | sort; }
check "the list names the group, every folder and every file, uninstall.exe among them" \
  '[ "$(listed group)" = GCC ] && [ "$(listed folder)" = "$(cd "$work/plain" && find . -mindepth 1 -type d | cut -c3- | sort)" ] &&
   [ "$(listed file)" = "$( (cd "$work/plain" && find . -type f | cut -c3-; echo uninstall.exe) | sort)" ]'
printf '%s\n' GCC :: '$\bin\gcc.exe,Compiler' '$\uninstall.exe,Uninstall GCC' :: GCC >"$work/inf-expected"
check "the package's inf has the item last among the items; the maker's inf is as it was" \
  'cmp -s "$work/inf-expected" "$work/uninstaller-package/inf" && cmp -s "$work/inf" "$work/inf-before"'
# An inf of one CR LF line: the items' section is made, in its line ends; a
# group name of 53 characters makes an item of 79, the inf's longest line.
long=$(printf 'G%.0s' $(seq 53))
printf '%s\r\n' "$long" >"$work/inf-crlf"
"$pkgtree" -q package --uninstaller "$work/plain" "$work/env" "$work/inf-crlf" "$work/crlf-package" >"$work/crlf.out" 2>&1
check "a group alone in a CR LF inf, its name as long as the item allows: the item in a new section" \
  '[ $? -eq 0 ] && printf "%s\r\n" "$long" :: "\$\\uninstall.exe,Uninstall $long" | cmp -s - "$work/crlf-package/inf"'

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
printf '%s\n' "${long}H" :: >"$work/inf-long"
refused "--uninstaller with a group name too long for the item" \
  "pkgtree: the group name ${long}H makes the item \"\$\\uninstall.exe,Uninstall ${long}H\" 80 characters long, over the inf's 79 (a group name of up to 53 fits)" \
  --uninstaller "$work/plain" "$work/env" "$work/inf-long" "$out"
mkdir -p "$work/lone" && cp "$work/usr/share/gcc-setup/setup.exe" "$work/lone/"
refused "--uninstaller without uninstall.exe beside setup.exe" \
  "pkgtree: no uninstall.exe beside setup.exe: looked for $work/lone/uninstall.exe" \
  --uninstaller --setup "$work/lone/setup.exe" "$work/plain" "$work/env" "$work/inf" "$out"
pe_image 8664 "$work/lone/uninstall.exe"
refused "--uninstaller with an x86_64 uninstall.exe, which it ships as it ships setup.exe" \
  "pkgtree: $work/lone/uninstall.exe: an x86_64 Windows program (machine 0x8664); the package needs a 32-bit Windows program" \
  --uninstaller --setup "$work/lone/setup.exe" "$work/plain" "$work/env" "$work/inf" "$out"
"$built" -q package "$work/plain" "$work/env" "$work/inf" "$out" >/dev/null 2>"$work/nosetup.err"
check "no setup.exe: status 1, one line saying where it looked, OUT as it was" '[ $? -eq 1 ] &&
  [ "$(cat "$work/nosetup.err")" = "pkgtree: no setup.exe: looked for $(dirname "$(dirname "$built")")/share/gcc-setup/setup.exe (give one with --setup FILE)" ] &&
  [ "$(state "$out")" = "$before" ]'

# What compress would refuse is found before the staging folder is begun.
mkdir -p "$work/bad-name/bin" && cp "$work/plain/bin/f1.h" "$work/bad-name/bin/" && : >"$work/bad-name/bin/aux.h"
refused "a name Windows cannot hold" \
  "pkgtree: $work/bad-name/bin/aux.h: a name the installer refuses (a reserved or control character, or a device name)" \
  "$work/bad-name" "$work/env" "$work/inf" "$out"
rm -r "$work/bad-name"
# setup.exe must be a program the user's 32-bit Windows starts.
: >"$work/empty.exe"
pe_image 8664 "$work/x86_64.exe"
refused "an empty setup.exe" \
  "pkgtree: setup.exe $work/empty.exe: an empty file, not a Windows program; the package needs a 32-bit Windows program" \
  --setup "$work/empty.exe" "$work/plain" "$work/env" "$work/inf" "$out"
refused "a Linux program as setup.exe" \
  "pkgtree: setup.exe $built: an ELF program (Linux and the like), not a Windows one; the package needs a 32-bit Windows program" \
  --setup "$built" "$work/plain" "$work/env" "$work/inf" "$out"
refused "an x86_64 setup.exe" \
  "pkgtree: setup.exe $work/x86_64.exe: an x86_64 Windows program (machine 0x8664); the package needs a 32-bit Windows program" \
  --setup "$work/x86_64.exe" "$work/plain" "$work/env" "$work/inf" "$out"
"$pkgtree" -q package --any-setup --setup "$work/x86_64.exe" "$work/plain" "$work/env" "$work/inf" "$work/test-only" \
  >"$work/any.out" 2>"$work/any.err"
check "--any-setup takes it, saying so on standard error and in check, for a package to test" '[ $? -eq 0 ] &&
  [ "$(cat "$work/any.err")" = "pkgtree: warning: setup.exe $work/x86_64.exe: an x86_64 Windows program (machine 0x8664), taken as --any-setup asks: a package to test, not to ship" ] &&
  grep -qx "warning: $work/test-only.pkgtree-0/setup.exe: an x86_64 .*, taken as --any-setup asks: a package to test, not to ship" "$work/any.out" &&
  cmp -s "$work/x86_64.exe" "$work/test-only/setup.exe"'
rm -r "$work/test-only"

# The installer's limits hold for the package's own paths, not for where
# the maker keeps them: a path of 189 characters below the root, an OUT of
# 70 (its staging folder longer still).
far=$work/$(printf "%0$((69 - ${#work}))d" 0 | tr 0 o)
long_path=$(printf '%060d' 0 | tr 0 d)/$(printf '%060d' 0 | tr 0 e)/$(printf '%063d' 0 | tr 0 f).txt
mkdir -p "$work/long/$(dirname "$long_path")" "$work/long/bin" && echo 'deep' >"$work/long/$long_path"
cp "$work/plain/bin/gcc.exe" "$work/long/bin/"
"$pkgtree" -q package "$work/long" "$work/env" "$work/inf" "$far" >"$work/long.out" 2>"$work/long.err"
check "a long OUT: the package is made, and check gives the folder it may be unpacked in" '[ $? -eq 0 ] && [ ${#far} -eq 70 ] &&
  [ ${#long_path} -eq 189 ] && cmp -s <(bzip2 -dc "$far/source/$long_path") "$work/long/$long_path" &&
  grep -q "^  unpack it in a folder of at most 62 characters: " "$work/long.out" &&
  grep -q "^warning: .*: unpacked in a folder of over 62 characters, the package cannot be installed" "$work/long.out"'
rm -r "$work/long" "$far"

# --sign: the staging folder's copies of setup.exe and uninstall.exe signed
# in place, uninstall.exe before it is listed; an OUT whose path needs
# quoting for the shell; a password in the command, which is never printed.
originals() { md5sum "$work"/usr/share/gcc-setup/*; }
originals_before=$(originals)
certificate=$work/certificate
for tool in osslsigncode openssl; do
  command -v $tool >/dev/null || check "$tool is installed (scripts/install-deps.sh installs it)" false
done
"$(dirname "$0")/../../scripts/test-certificate.sh" "$certificate"
password=$(cat "$certificate/test-signer.pass")
sign="osslsigncode sign -certs $certificate/test-signer.pem -key $certificate/test-signer.key -pass $password"
sign="$sign -in {} -out {}.signed >/dev/null && mv {}.signed {}"
signed="$work/it's signed"
"$pkgtree" -q package --uninstaller --sign "$sign" "$work/plain" "$work/env" "$work/inf" "$signed" \
  >"$work/signed.out" 2>"$work/signed.err"
check "--sign: status 0, setup.exe and then uninstall.exe signed, the command never printed" '[ $? -eq 0 ] &&
  [ "$(grep "^== signing" "$work/signed.out")" = "$(printf "== signing %s\n" setup.exe uninstall.exe)" ] &&
  ! grep -qF "$password" "$work/signed.out" "$work/signed.err"'
"$pkgtree" -q expand "$signed/source" "$work/signed-expanded" >/dev/null
verified() { osslsigncode verify -CAfile "$certificate/test-ca.pem" -in "$1" >"$work/verify.out" 2>&1 || { cat "$work/verify.out"; false; }; }
crc32() { gzip -1 -c "$1" | tail -c 8 | head -c 4 | od -An -tx1 | awk '{ print $4 $3 $2 $1 }'; }
check "osslsigncode verify passes on OUT's setup.exe and on the uninstall.exe it installs, which the list holds" \
  'verified "$signed/setup.exe" && verified "$work/signed-expanded/uninstall.exe" &&
   [ "$(grep " uninstall.exe$" "$work/signed-expanded/uninstall.lst")" = \
     "file $(stat -c %s "$work/signed-expanded/uninstall.exe") $(crc32 "$work/signed-expanded/uninstall.exe") uninstall.exe" ] &&
   [ "$(originals)" = "$originals_before" ]'
failed_signing() {  # WHAT COMMAND EXPECTED_LINE
  "$pkgtree" -q package --sign "$2" "$work/plain" "$work/env" "$work/inf" "$out" >/dev/null 2>"$work/sign-failed.err"
  local rc=$? line="pkgtree: signing setup.exe: $3"
  check "a signing command that $1: status 1, OUT and the setup.exe taken as they were" \
    '[ $rc -eq 1 ] && [ "$(head -n1 "$work/sign-failed.err")" = "$line" ] &&
     [ "$(tail -n1 "$work/sign-failed.err")" = "pkgtree: nothing replaced: $out is as it was" ] &&
     [ "$(state "$out")" = "$before" ] && alone && [ "$(originals)" = "$originals_before" ]'
}
failed_signing fails "exit 3 {}" "the command ended with status 3"
failed_signing "leaves it unsigned" "touch {}" "the command left it unsigned: it carries no certificate table"
failed_signing "breaks it" ": >{}" "the command left it broken: an empty file, not a Windows program"

# Failures once the staging folder is begun: check finds an env block that
# no "::" closes; an interrupt.
printf 'PATH\nREG_SZ\n\\bin\n' >"$work/open-env"
"$pkgtree" -q package "$work/plain" "$work/open-env" "$work/inf" "$out" >"$work/check.out" 2>&1
check "a check problem after verify passed: status 1, OUT as it was" '[ $? -eq 1 ] && grep -qx "check: 2 problems" "$work/check.out" &&
  [ "$(state "$out")" = "$before" ] && alone'
rm "$work/open-env"
mkdir -p "$work/big"
head -c 10000000 /dev/urandom >"$work/big/large.bin"
for sig in TERM HUP; do
  "$pkgtree" -q -j 1 package "$work/big" "$work/env" "$work/inf" "$out" >/dev/null 2>"$work/stopped.err" &
  runner=$!
  # Stopped while compress writes into the staging folder.
  until [ -e "$out.pkgtree-0/source/large.bin" ] || ! kill -0 $runner 2>/dev/null; do sleep 0.05; done
  kill -$sig $runner
  wait $runner
  rc=$?
  status=$((128 + $(kill -l $sig)))
  check "stopped by SIG$sig while compressing: status $status, what was begun removed, OUT as it was" \
    '[ $rc -eq $status ] && [ "$(state "$out")" = "$before" ] && alone &&
     grep -Eqx "pkgtree: stopped by SIG$sig: $out.pkgtree-0/source holds 0 of the 1 files, each whole; 1 under way was removed" "$work/stopped.err" &&
     [ "$(tail -1 "$work/stopped.err")" = "pkgtree: nothing replaced: $out is as it was" ]'
done

check "--version prints the project's version" '[ "$("$pkgtree" --version)" = "pkgtree $version" ]'
"$pkgtree" --help >"$work/help.out" 2>"$work/help.err"
help_rc=$?
"$pkgtree" -q -h >"$work/h.out"
# Every option and verb, ENV and INF, the statuses, the manual page.
said=1
for word in -v -q "-j N" -- --setup --folder --any-setup --sign package compress expand copy verify check \
  REG_EXPAND_SZ '$\bin\gcc.exe,' "Exit status" 129 "man pkgtree"; do
  grep -qF -- "$word" "$work/help.out" || { said=0; echo "--help does not say: $word"; }
done
check "--help and -h: one screen on standard output that explains it all, status 0" \
  '[ $help_rc -eq 0 ] && [ ! -s "$work/help.err" ] && cmp -s "$work/help.out" "$work/h.out" &&
   [ $said -eq 1 ] && [ "$(wc -l <"$work/help.out")" -le 60 ]'
exit $((failures > 0))
