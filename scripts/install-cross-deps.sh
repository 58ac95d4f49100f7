#!/usr/bin/env bash
# Installs what the Windows build and the Wine bench need, then fetches the
# compression library's Debian source into the build folder:
#   scripts/install-cross-deps.sh BUILD_DIR ARCH [--guest]
#   scripts/install-cross-deps.sh --build-only BUILD_DIR
# ARCH (i686 or x86_64, the Makefile's WIN_ARCH) is the kind of Windows
# program this machine runs: Wine for it, and for x86_64 the cross compiler
# of that kind beside the i686 one. --guest, on the x86_64 route: also what
# builds and runs the emulated machine in which the 32-bit programs run
# (scripts/guest). --build-only: the i686 cross compiler and
# the library source alone, for the programs that ship (`make package`,
# `make deb`); no Wine.
# Idempotent: apt is only asked when something is missing.
set -euo pipefail

build_only=0
[ "${1:-}" = --build-only ] && { build_only=1; shift; }
usage="usage: install-cross-deps.sh BUILD_DIR ARCH [--guest] | --build-only BUILD_DIR"
build_dir=${1:?$usage}
arch=${2:-}
guest=${3:-}
case "$build_only:$arch:$guest" in
  0:i686: | 0:x86_64: | 0:i686:--guest | 0:x86_64:--guest | 1::) ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=apt-lock.sh
. "$here/apt-lock.sh"
sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

need_update=0

# 32-bit programs need the i386 side of Wine.
if [ $build_only -eq 0 ] && [ "$arch" = i686 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "adding the i386 architecture"
  apt_locked $sudo dpkg --add-architecture i386
  need_update=1
fi

# `apt-get source` needs a deb-src entry; add one mirroring the Debian
# archive entries of the machine, only when there is none at all.
have_deb_src() {
  grep -Eqs '^[[:space:]]*deb-src[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list && return 0
  grep -Eqs '^[[:space:]]*Types:.*deb-src' /etc/apt/sources.list.d/*.sources && return 0
  return 1
}
if ! have_deb_src; then
  target=/etc/apt/sources.list.d/setup-deb-src.sources
  tmp=$(mktemp)
  # deb822 stanzas of the Debian archive: copy each with Types: deb-src.
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /(^|\n)[ \t]*Types:[^\n]*deb/ && /(^|\n)[ \t]*URIs:[^\n]*\/debian/ {
           sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f" >>"$tmp"
  done
  # One-line entries of the Debian archive, in deb822 form.
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '$1 == "deb" && $0 ~ /\/debian/ {
           i = 2; opts = "";
           if ($2 ~ /^\[/) { while ($i !~ /\]$/) { opts = opts " " $i; i++ } opts = opts " " $i; i++ }
           uri = $i; suite = $(i + 1); comps = "";
           for (j = i + 2; j <= NF; j++) comps = comps " " $j;
           printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents:%s\n", uri, suite, comps;
           if (opts ~ /signed-by=/) { match(opts, /signed-by=[^] ]*/); printf "Signed-By: %s\n", substr(opts, RSTART + 10, RLENGTH - 10) }
           printf "\n" }' "$f" >>"$tmp"
  done
  if [ ! -s "$tmp" ]; then
    rm -f "$tmp"
    echo "install-cross-deps: no Debian archive entry to derive a deb-src entry from" >&2
    exit 1
  fi
  echo "adding source entries: $target"
  $sudo install -m 0644 "$tmp" "$target"
  rm -f "$tmp"
  need_update=1
fi

# fonts-wine: the window tests measure text drawn with Wine's own fonts;
# fonts-liberation: the serif the bench draws "Times New Roman" with;
# imagemagick: the screenshots (import) and their colours (convert);
# time: GNU time, the peak memory of the timed runs of the bench.
# dpkg-dev: apt-get source unpacks with dpkg-source.
packages=(g++-mingw-w64-i686 dpkg-dev)
[ $build_only -eq 1 ] || packages+=(wine fonts-wine fonts-liberation xvfb xauth imagemagick time)
if [ $build_only -eq 0 ]; then
  if [ "$arch" = i686 ]; then packages+=(wine32:i386); else packages+=(g++-mingw-w64-x86-64-posix wine64); fi
fi
# The emulated machine: made from Debian's packages by debootstrap, its disks
# by mke2fs and qemu-img, read back by debugfs, run by qemu.
[ "$arch:$guest" != x86_64:--guest ] || packages+=(qemu-system-x86 qemu-utils debootstrap e2fsprogs)
missing=()
for pkg in "${packages[@]}"; do
  installed "$pkg" || missing+=("$pkg")
done
# A deb-src entry whose index was never fetched knows no source package.
if ! ls "$build_dir"/bzip2-source/bzip2-*/bzlib.c >/dev/null 2>&1 &&
   ! apt-cache showsrc bzip2 2>/dev/null | grep -q '^Package: bzip2'; then
  need_update=1
fi
if [ ${#missing[@]} -gt 0 ] || [ "$need_update" -eq 1 ]; then
  echo "updating the package lists"
  mkdir -p "$build_dir"
  apt_locked $sudo apt-get update -q >"$build_dir/apt-update.log" 2>&1 || {
    cat "$build_dir/apt-update.log" >&2; exit 1; }
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt_locked $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null >"$build_dir/apt-install.log" 2>&1 || {
    cat "$build_dir/apt-install.log" >&2; exit 1; }
fi

mkdir -p "$build_dir"
"$here/fetch-bzip2-source.sh" "$build_dir/bzip2-source"
