#!/usr/bin/env bash
# The .deb alone on a brand-new machine: run from a clone as
#   /work/shared/fresh-machine bash scripts/fresh-deb-check.sh
# it builds the .deb from the clone (make deb), keeps in /tmp only what it
# needs afterwards (the .deb; the robot and Program Manager stand-in that
# drive setup.exe under Wine, the bench scripts, a small Windows program for
# the tree), removes the checkout and its build folders, then, from /tmp:
# apt-get install ./gcc-setup_*.deb, pkgtree package on a small tree with the
# installed command, the package's setup.exe compared with the installed
# one, and that package installed under Wine (installed here by apt) by the
# robot. Exits 0 when all of it held.
set -euo pipefail
keep=/tmp/fresh-deb
export DEBIAN_FRONTEND=noninteractive

if [ "${1:-}" != --installed ]; then
  clone=$(cd "$(dirname "$0")/.." && pwd)
  cd "$clone"
  make deb
  # The Windows helpers, built straight by the cross compiler make deb installed.
  rm -rf "$keep"
  mkdir -p "$keep/scripts" "$keep/tests/e2e"
  cxx=$(command -v i686-w64-mingw32-g++-posix || command -v i686-w64-mingw32-g++)
  for tool in robot progman_standin; do
    "$cxx" -std=c++20 -O2 -static -o "$keep/tests/e2e/$tool.exe" "tests/e2e/$tool.cpp" -luser32
  done
  cp build/gcc-setup_*_amd64.deb "$keep/"
  cp tests/e2e/run-setup.sh "$keep/tests/e2e/"
  cp scripts/wine-session.sh scripts/run-watched.sh scripts/imagemagick.sh "$keep/scripts/"
  cp "$0" "$keep/fresh-deb-check.sh"
  cd /
  rm -rf "$clone"
  echo "fresh-deb-check: kept $(cd "$keep" && find . -type f | sort | tr '\n' ' ')"
  echo "fresh-deb-check: removed the checkout $clone and its build folders"
  exec bash "$keep/fresh-deb-check.sh" --installed "$clone"
fi

clone=$2
cd "$keep"
set +e
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }
check "no checkout and no build folder remain" \
  '[ ! -e "$clone" ] && [ -z "$(find / -xdev -name CMakeCache.txt -print -quit 2>/dev/null)" ]'

apt-get install -y -q ./gcc-setup_*.deb </dev/null >apt-deb.log 2>&1 || { cat apt-deb.log; exit 1; }
echo "fresh-deb-check: apt-get install ./$(ls gcc-setup_*.deb): $(grep -c '^Unpacking' apt-deb.log) packages unpacked"
check "pkgtree is the installed command" '[ "$(command -v pkgtree)" = /usr/bin/pkgtree ] && pkgtree --version'
check "uninstall.exe is installed beside setup.exe, for --uninstaller" '[ -s /usr/share/gcc-setup/uninstall.exe ]'
check "unpacker.exe is installed beside setup.exe, for --one-file" '[ -s /usr/share/gcc-setup/unpacker.exe ]'

mkdir -p maker/plain/bin maker/plain/lib/empty maker/plain/include/sys
# Any Windows program stands in for the compiler here.
cp tests/e2e/progman_standin.exe maker/plain/bin/gcc.exe
head -c 300000 /dev/urandom >maker/plain/lib/libfresh.a
for i in $(seq 1 50); do seq "$i" 400 >"maker/plain/include/sys/h$i.h"; done
printf 'PATH\nREG_EXPAND_SZ\n\\bin\n::\n' >maker/env
printf 'GCC Fresh\n::\n$\\bin\\gcc.exe,Compiler\n::\nGCC Fresh\n' >maker/inf
pkgtree package --folder 'C:\gcc-fresh' maker/plain maker/env maker/inf maker/package
check "pkgtree package made the package" '[ $? -eq 0 ]'
check "the package's setup.exe is byte for byte the installed one" 'cmp /usr/share/gcc-setup/setup.exe maker/package/setup.exe'
pkgtree -q bundle maker/package maker/one.exe >bundle.out 2>&1
check "pkgtree bundle made the one file of it, the installed unpacker.exe at its head" \
  '[ $? -eq 0 ] && cmp -n "$(stat -c %s /usr/share/gcc-setup/unpacker.exe)" /usr/share/gcc-setup/unpacker.exe maker/one.exe'

# Wine, as the project's bench needs it.
dpkg --add-architecture i386
# An index that fails to download is named; the install below says if it mattered.
apt-get update -q >apt-update.log 2>&1 || grep '^E:' apt-update.log
apt-get install -y -q --no-install-recommends wine wine32:i386 xvfb xauth fonts-wine fonts-liberation \
  </dev/null >apt-wine.log 2>&1 || { cat apt-wine.log; exit 1; }
echo "fresh-deb-check: wine $(dpkg-query -W -f '${Version}' wine) installed"
cat >install.sh <<'RUN'
set -uo pipefail
. "$1/env"
wine tests/e2e/robot.exe silence-progman </dev/null >silence.out 2>&1
bash tests/e2e/run-setup.sh "$1" "$PWD/tests/e2e" maker/package run \
  window:nv_gfortran click:1 wait:5 'settext:4:C:\gcc-fresh' click:5 wait:7 click:7 gone
rc=$?
cat run/robot.out
diff -r maker/plain "$WINEPREFIX/drive_c/gcc-fresh" && echo "installed tree: the plain tree, byte for byte" || rc=1
exit $rc
RUN
scripts/wine-session.sh run "$keep/bench" i686 bash install.sh "$keep/bench" >install.out 2>&1
rc=$?
cat install.out
# A bench that did not start says why in its own log.
[ $rc -eq 0 ] || tail -n 3 "$keep/bench/wineboot.log" "$keep/bench/xvfb.log" 2>/dev/null
check "setup.exe of that package installed it under Wine, through Finish" \
  '[ $rc -eq 0 ] && [ "$(cat run/setup.status)" = 0 ] && grep -q "byte for byte" install.out'
check "the Program Manager received its group" 'grep -qF "[AddItem(C:\\gcc-fresh\\bin\\gcc.exe,Compiler)]" run/executes.txt'
echo "fresh-deb-check: $((failures == 0 ? 1 : 0)) passed, $((failures > 0 ? 1 : 0)) failed"
exit $((failures > 0))
