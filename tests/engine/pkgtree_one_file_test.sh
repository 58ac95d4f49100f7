#!/usr/bin/env bash
# The one file: package --one-file and bundle against stock zip tools (unzip,
# 7-Zip) and the folder package of the same tree; zip64 records; signing in
# its order, with osslsigncode verify; a failing last step and the unpacker's
# budget leaving an earlier FILE byte-identical with no staging file beside
# it; check and verify of a one file finding a flipped byte.
#   pkgtree_one_file_test.sh PKGTREE ZIP64_ARCHIVE
set -u
built=$(realpath "$1") zip64_archive=$(realpath "$2")
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }
for tool in unzip 7z osslsigncode openssl; do
  command -v $tool >/dev/null || check "$tool is installed (scripts/install-deps.sh installs it)" false
done
# shellcheck source=pe_image.sh
. "$(dirname "$0")/pe_image.sh"
# A program 7-Zip takes for one: pe_image with one section of 512 bytes.
small_pe() {
  pe_image 14c "$1"
  put() { printf "$1" | dd of="$2" bs=1 seek=$(($3)) conv=notrunc 2>/dev/null; }
  put '\x01' "$1" 0x46
  put '\x00\x10\x00\x00\x00\x02\x00\x00' "$1" 0x78
  put '\x00\x20\x00\x00\x00\x02\x00\x00' "$1" 0x90
  truncate -s 1024 "$1"
  put '.text\0\0\0\0\x02\0\0\0\x10\0\0\0\x02\0\0\0\x02\0\0' "$1" 0x138
  put '\x20\0\0\x60' "$1" 0x15c
}

# As installed: bin/pkgtree, and setup.exe, uninstall.exe, unpacker.exe.
data=$work/usr/share/gcc-setup
mkdir -p "$work/usr/bin" "$data"
cp "$built" "$work/usr/bin/pkgtree"
pkgtree=$work/usr/bin/pkgtree
pe_image 14c "$data/setup.exe"
pe_image 14c "$data/uninstall.exe"
small_pe "$data/unpacker.exe"
mkdir -p "$work/plain/bin" "$work/plain/empty"
head -c 300000 /dev/urandom >"$work/plain/bin/gcc.exe"
for i in 1 2 3; do seq "$i" 3000 >"$work/plain/bin/f$i.h"; done
printf 'PATH\nREG_EXPAND_SZ\n\\bin\n::\n' >"$work/env"
printf 'GCC\n::\n$\\bin\\gcc.exe,Compiler\n::\nGCC\n' >"$work/inf"
alone() { [ -z "$(ls "$work" | grep '\.pkgtree-')" ]; }

# The folder package of the same tree, and the one file of it.
"$pkgtree" -q package --uninstaller "$work/plain" "$work/env" "$work/inf" "$work/folder" >/dev/null
"$pkgtree" -q package --uninstaller --one-file "$work/plain" "$work/env" "$work/inf" "$work/one.exe" \
  >"$work/one.out" 2>"$work/one.err"
check "package --one-file: status 0, ready to ship" '[ $? -eq 0 ] && [ ! -s "$work/one.err" ] &&
  grep -qx "== ready to ship: $work/one.exe (one file)" "$work/one.out" && alone'
unzip -q "$work/one.exe" -d "$work/unzipped" 2>"$work/unzip.err"
7z x -o"$work/7z" "$work/one.exe" >"$work/7z.out" 2>&1
check "unzip and 7z test it with no warning and extract exactly the package folder" \
  '[ ! -s "$work/unzip.err" ] && unzip -tq "$work/one.exe" >/dev/null && 7z t "$work/one.exe" >"$work/7zt.out" &&
   ! grep -qi warning "$work/7zt.out" "$work/7z.out" && diff -r "$work/folder" "$work/unzipped" && diff -r "$work/folder" "$work/7z"'
check "its head is unpacker.exe, byte for byte; its names use /, folders included" \
  'cmp -s -n "$(stat -c %s "$data/unpacker.exe")" "$data/unpacker.exe" "$work/one.exe" &&
   [ "$(unzip -Z1 "$work/one.exe" | head -n 4 | tr "\n" " ")" = "setup.exe env inf source/ " ] &&
   unzip -Z1 "$work/one.exe" | grep -qx source/empty/'

# Zip64: every classic field's limit lowered, the stock tools still read it.
"$zip64_archive" "$work/z64.exe" "$data/unpacker.exe" "$work/plain/bin/gcc.exe" "$work/env"
check "zip64 records for every size, offset and count: unzip and 7z read them" \
  'unzip -tq "$work/z64.exe" >/dev/null && 7z t "$work/z64.exe" >/dev/null && unzip -Zv "$work/z64.exe" | grep -q "64-bit sizes" &&
   unzip -p "$work/z64.exe" tree/gcc.exe | cmp -s - "$work/plain/bin/gcc.exe"'

# bundle: the same one file from the folder package (a check that fails
# refuses it); a signed one with the steps in order, the command never shown.
"$pkgtree" bundle "$work/folder" "$work/bundled.exe" >"$work/bundle.out" 2>&1
# The same entries; their order is each walk's, which follows the order the
# folders list them in (on a tmpfs, the order compress's threads made them).
check "bundle of the folder: the same archive" \
  '[ $? -eq 0 ] && cmp -s <(unzip -Z1 "$work/one.exe" | sort) <(unzip -Z1 "$work/bundled.exe" | sort) &&
   unzip -tq "$work/bundled.exe" >/dev/null'
cp "$work/bundled.exe" "$work/bundled.before" 2>/dev/null
mkdir -p "$work/unfit/source" && cp "$work/env" "$work/inf" "$data/setup.exe" "$work/unfit/"
"$pkgtree" bundle "$work/unfit" "$work/bundled.exe" >"$work/unfit.out" 2>"$work/unfit.err"
check "bundle of a folder check finds unfit: refused, FILE as it was" '[ $? -eq 1 ] && grep -q "^problem: " "$work/unfit.out" &&
  grep -qx "pkgtree: PACKAGE_DIR $work/unfit: check finds it unfit to ship (above): no one file is made" "$work/unfit.err" &&
  cmp -s "$work/bundled.before" "$work/bundled.exe"'
certificate=$work/certificate
"$(dirname "$0")/../../scripts/test-certificate.sh" "$certificate"
password=$(cat "$certificate/test-signer.pass")
sign="osslsigncode sign -certs $certificate/test-signer.pem -key $certificate/test-signer.key -pass $password"
sign="$sign -in {} -out {}.signed >/dev/null && mv {}.signed {}"
"$pkgtree" -q package --uninstaller --one-file --sign "$sign" "$work/plain" "$work/env" "$work/inf" "$work/signed.exe" \
  >"$work/signed.out" 2>&1
check "--sign: setup.exe, uninstall.exe, the unpacker, then the one file; the command never printed" '[ $? -eq 0 ] &&
  [ "$(grep "^== signing" "$work/signed.out")" = "$(printf "== signing %s\n" setup.exe uninstall.exe unpacker.exe signed.exe)" ] &&
  ! grep -qF "$password" "$work/signed.out" && alone'
unzip -q "$work/signed.exe" -d "$work/signed"
check "osslsigncode verify passes on the one file and on its setup.exe; unzip tests it" \
  'osslsigncode verify -CAfile "$certificate/test-ca.pem" -in "$work/signed.exe" >/dev/null 2>&1 &&
   osslsigncode verify -CAfile "$certificate/test-ca.pem" -in "$work/signed/setup.exe" >/dev/null 2>&1 &&
   unzip -tq "$work/signed.exe" >/dev/null'

# check and verify read the one file as the unpacker does; a flipped byte
# in a file's data is found by both, and nothing is left of what they unpacked.
"$pkgtree" check "$work/signed.exe" >"$work/check.out" 2>&1
check_rc=$?
"$pkgtree" -q verify "$work/one.exe" >"$work/verify.out" 2>&1
verify_rc=$?
check "check and verify of a good one file: all well, signed or not, every entry read" '[ $check_rc -eq 0 ] && [ $verify_rc -eq 0 ] &&
  grep -qx "check: all well" "$work/check.out" && grep -qx "  $work/signed.exe: a 32-bit Windows program, signed" "$work/check.out" &&
  grep -qx "  as one file: fits: .* its folder takes 65 characters" "$work/check.out" && grep -qx "verify: all well" "$work/verify.out"'
cp "$work/one.exe" "$work/flipped.exe"
at=$(( $(unzip -Zv "$work/one.exe" source/bin/gcc.exe | sed -n "s/^  offset of local header from start of archive: *\([0-9]*\).*/\1/p") + 1000 ))
printf '\xff' | dd of="$work/flipped.exe" bs=1 seek=$at conv=notrunc 2>/dev/null
cmp -s "$work/one.exe" "$work/flipped.exe" && printf '\x00' | dd of="$work/flipped.exe" bs=1 seek=$at conv=notrunc 2>/dev/null
mkdir -p "$work/tmp"
TMPDIR=$work/tmp "$pkgtree" check "$work/flipped.exe" >"$work/flipped-check.out" 2>&1
check_rc=$?
TMPDIR=$work/tmp "$pkgtree" verify "$work/flipped.exe" >"$work/flipped-verify.out" 2>&1
verify_rc=$?
check "a flipped byte: check and verify each fail on the file's CRC-32, nothing left unpacked" '[ $check_rc -eq 1 ] && [ $verify_rc -eq 1 ] &&
  grep -qF "problem: $work/flipped.exe: The package archive is damaged: the data of \"source/bin/gcc.exe\" fails its CRC-32" \
    "$work/flipped-check.out" && grep -qF "source/bin/gcc.exe\" fails its CRC-32" "$work/flipped-verify.out" &&
  [ -z "$(ls -A "$work/tmp")" ]'

# A last step that fails (signing the one file, the only file over 100 kB
# signed), and a tree too deep for the unpacker's folder: the earlier FILE
# byte-identical, nothing left beside it.
cp "$work/one.exe" "$work/before.exe"
"$pkgtree" -q package --one-file --sign "[ \$(stat -c %s {}) -lt 100000 ] && $sign" \
  "$work/plain" "$work/env" "$work/inf" "$work/one.exe" >/dev/null 2>"$work/failed.err"
check "signing the one file fails: status 1, the earlier FILE as it was, no staging file" '[ $? -eq 1 ] &&
  grep -qx "pkgtree: signing one.exe: the command ended with status 1" "$work/failed.err" &&
  cmp -s "$work/before.exe" "$work/one.exe" && alone'
deep=$(printf '%0100d' 0 | tr 0 d)/$(printf '%088d' 0 | tr 0 e).h
mkdir -p "$work/deep/$(dirname "$deep")" && cp -r "$work/plain/bin" "$work/deep/" && echo x >"$work/deep/$deep"
"$pkgtree" -q package --one-file "$work/deep" "$work/env" "$work/inf" "$work/one.exe" >/dev/null 2>"$work/deep.err"
check "a path of 191 characters: refused with the figure, 60 under the unpacker's 65" '[ $? -eq 1 ] &&
  grep -qF "too long for one file: the package may be unpacked in a folder of at most 60 characters" "$work/deep.err" &&
  cmp -s "$work/before.exe" "$work/one.exe" && alone'
exit $((failures > 0))
