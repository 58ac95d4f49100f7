#!/usr/bin/env bash
# The emulated x86_64 machine in which the shipped 32-bit Windows programs run
# when this machine's kernel runs no 32-bit code: a Debian 12 root with 32-bit
# Wine, Debian's own kernel and a small initramfs, and a Wine prefix made once
# inside it.
#   scripts/guest/image.sh                   the image's folder (built first unless cached)
#   scripts/guest/image.sh --where           the cache folder; nothing is built
#   scripts/guest/image.sh --background PID  the disks made now, at low priority and
#                                            detached, while process PID (make) lives
# The folder holds root.img (raw ext4), vmlinuz and initrd.img. It is cached
# under ${XDG_CACHE_HOME:-$HOME/.cache}/gcc-setup, one folder per hash of the
# recipe (these scripts and the package list), so that a change of recipe
# builds a new one. A build happens in a folder of its own, renamed into
# place only once the prefix is made: an interrupted build leaves nothing
# that passes for an image. It is made in two steps: the disks (debootstrap,
# the packages, mke2fs: mostly downloads, which --background does while
# other work runs), then the prefix (a boot of the guest, whose programs time
# themselves and so want the machine to themselves). Needs root (debootstrap,
# chroot); as another user it runs itself through sudo.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/gcc-setup
usage="usage: image.sh [--where | --background PID]"
background="" disks_only=0 disks_here=0
case "${1:-}" in
  --where) echo "$cache"; exit 0 ;;
  --background) background=${2:?$usage} ;;
  --disks-only) disks_only=1 ;;  # what --background runs
  --disks-here) disks_here=1 ;;  # the disks step, in a mount namespace of its own
  "") ;;
  *) echo "$usage" >&2; exit 2 ;;
esac

log() { echo "guest image: $*" >&2; }
fail() { log "$*"; exit 1; }

# What makes the image: a change to any of these is a new image.
recipe=(guest/image.sh guest/initramfs-init guest/guest-init guest/packages guest/boot.sh wine-session.sh)
hash=$(cd "$here/.." && sha256sum "${recipe[@]}" | sha256sum | cut -c1-16)
image=$cache/guest-$hash
part=$cache/guest-$hash.part
if [ -f "$image/complete" ]; then [ -n "$background" ] || echo "$image"; exit 0; fi

if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || fail "building the image needs root (debootstrap, chroot), and there is no sudo"
  as_root=(sudo env "XDG_CACHE_HOME=$(dirname "$cache")" "$0" "$@")
  if [ -n "$background" ]; then
    # In the background no password can be asked: the stage makes the disks then.
    sudo -n true 2>/dev/null || { log "sudo asks for a password: the disks are made when the stage needs them"; exit 0; }
    as_root=(sudo -n "${as_root[@]:1}")
  fi
  exec "${as_root[@]}"
fi

for tool in debootstrap chroot mke2fs debugfs dpkg-deb qemu-system-x86_64 flock unshare; do
  command -v "$tool" >/dev/null ||
    fail "$tool is not installed (scripts/install-cross-deps.sh installs what the guest needs)"
done
mkdir -p "$cache"

if [ -n "$background" ]; then
  # The disks step, its own process group at the lowest priority, ended
  # when make is gone (a failed make leaves no build behind it).
  setsid nice -n 19 "$0" --disks-only </dev/null >"$cache/background.log" 2>&1 &
  builder=$!
  ( while kill -0 "$builder" 2>/dev/null; do
      kill -0 "$background" 2>/dev/null || { kill -TERM -- "-$builder" 2>/dev/null; break; }
      sleep 2
    done ) </dev/null >/dev/null 2>&1 &
  log "making the disks in the background (log: $cache/background.log)"
  exit 0
fi
# One build of a recipe at a time; a second caller waits and takes its result.
# (The disks step runs under the lock its caller holds.)
if [ $disks_here -eq 0 ]; then
  exec 9>"$cache/build.lock"
  if ! flock -n 9; then
    log "waiting for the build under way (its log: $cache/background.log)"
    flock 9
  fi
  if [ -f "$image/complete" ]; then [ $disks_only -eq 1 ] || echo "$image"; exit 0; fi
fi

started=$SECONDS
root=$part/root
mounted=()
cleanup() {
  local status=$? m
  for m in "${mounted[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; done
  # A build that failed or was stopped keeps its logs, not its gigabytes.
  if [ $status -ne 0 ] && [ -d "$part" ] && ! grep -q " $part/" /proc/mounts; then
    rm -rf "$root" "$part/kernel" "$part/initramfs" "$part/root.img" "$part/disks-made"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

make_disks() {
  # The archive this machine's apt uses.
  local mirror
  mirror=$(grep -hE '^[[:space:]]*URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null |
           awk '{print $2}' | grep -m1 '/debian/*$' || true)
  [ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' \
                               /etc/apt/sources.list 2>/dev/null | grep -m1 '/debian/*$' || true)
  [ -n "$mirror" ] || mirror=http://deb.debian.org/debian
  # What an earlier, interrupted build left: never inside a mount of its own.
  if [ -d "$part" ]; then
    grep -q " $part/" /proc/mounts && fail "$part still holds a mount; unmount it first"
    rm -rf "$part"
  fi
  mkdir -p "$part"
  log "building $image from Debian 12 ($mirror); the log is $part/build.log"
  # The root is built in memory: a folder of the machine may be mounted nodev
  # (a container's is), where debootstrap refuses to work. The mount lives in
  # this step's own namespace and goes with it.
  mkdir -p "$root"
  mount -t tmpfs -o size=8g,mode=755,dev,exec,suid guest-root "$root" || fail "no tmpfs for the root at $root"
  mounted+=("$root")
  # dpkg keeps no documentation, manual pages or translations in the guest.
  mkdir -p "$root/etc/dpkg/dpkg.cfg.d"
  printf '%s\n' 'path-exclude=/usr/share/doc/*' 'path-exclude=/usr/share/man/*' 'path-exclude=/usr/share/info/*' \
    'path-exclude=/usr/share/locale/*' 'path-include=/usr/share/locale/locale.alias' >"$root/etc/dpkg/dpkg.cfg.d/slim"
  debootstrap --variant=minbase --include=busybox-static bookworm "$root" "$mirror" >>"$part/build.log" 2>&1 ||
    fail "debootstrap failed; see $part/build.log"

  # The Wine packages, installed by the guest's own apt and dpkg.
  mount -t proc proc "$root/proc" && mounted=("$root/proc" "${mounted[@]}")
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d" && chmod +x "$root/usr/sbin/policy-rc.d"
  echo "deb $mirror bookworm main" >"$root/etc/apt/sources.list"
  local packages kernel
  mapfile -t packages < <(sed 's/#.*//; /^[[:space:]]*$/d' "$here/packages")
  in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive LANG=C "$@"; }
  { in_root dpkg --add-architecture i386 &&
    in_root apt-get update -q &&
    in_root apt-get install -y -q --no-install-recommends "${packages[@]}" &&
    kernel=$(in_root apt-cache depends linux-image-amd64 | awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }') &&
    in_root sh -c "cd /tmp && apt-get download -q $kernel"
  } </dev/null >>"$part/build.log" 2>&1 || fail "installing the guest's packages failed; see $part/build.log"
  umount "$root/proc" && mounted=("${mounted[@]:1}")

  # Debian's kernel, and the modules that reach the disks (virtio, ext4).
  mkdir -p "$part/kernel"
  dpkg-deb -x "$root"/tmp/linux-image-*.deb "$part/kernel"
  cp "$part"/kernel/boot/vmlinuz-* "$part/vmlinuz"
  chmod 644 "$part/vmlinuz"
  local initramfs=$part/initramfs module file
  mkdir -p "$initramfs/bin" "$initramfs/lib/modules"
  cp "$root/bin/busybox" "$initramfs/bin/busybox"
  cp "$here/initramfs-init" "$initramfs/init"
  chmod 755 "$initramfs/init"
  for module in virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci virtio_blk \
                crc16 mbcache jbd2 crc32c_generic ext4; do
    # Debian 12's modules are not compressed, which busybox's insmod needs.
    file=$(find "$part/kernel/lib/modules" -name "$module.ko" | head -n1)
    [ -n "$file" ] || fail "the kernel package has no module $module.ko"
    cp "$file" "$initramfs/lib/modules/$module.ko"
    echo "$module" >>"$initramfs/lib/modules/order"
  done
  ( cd "$initramfs" && find . | "$root/bin/busybox" cpio -o -H newc 2>/dev/null | gzip -9 ) >"$part/initrd.img"

  # The program that runs in the guest in place of an init system, and the
  # Wine session script that makes the prefix.
  rm -rf "$root"/tmp/* "$root"/var/cache/apt/archives/*.deb "$root"/var/lib/apt/lists/* "$root/usr/sbin/policy-rc.d"
  install -m 755 "$here/guest-init" "$root/sbin/guest-init"
  mkdir -p "$root/opt/gcc-setup" "$root/payload"
  install -m 755 "$here/../wine-session.sh" "$root/opt/gcc-setup/wine-session.sh"

  # The disk: the root as it stands, with room for the runs (a sparse file).
  local size=$(( $(du -sm "$root" | cut -f1) + 3072 ))
  mke2fs -q -t ext4 -L guest -E root_owner=0:0 -d "$root" "$part/root.img" "${size}M" >>"$part/build.log" 2>&1 ||
    fail "mke2fs failed; see $part/build.log"
  umount "$root" && mounted=()
  rm -rf "$root" "$part/kernel" "$initramfs"
  touch "$part/disks-made"
  log "disks made in $((SECONDS - started)) s"
}

make_prefix() {
  # The Wine prefix is made once, in the guest itself: wineboot takes minutes there.
  log "making the Wine prefix in the guest (some minutes); its console is $part/prepare.log"
  local began=$SECONDS
  if ! "$here/boot.sh" "$part" prepare "$part/root.img" "" "${GUEST_PREPARE_TIMEOUT:-1800}" "$part/prepare.log" ||
     ! debugfs -R 'cat /opt/gcc-setup/prepared' "$part/root.img" 2>/dev/null | grep -qx ready; then
    tail -n 30 "$part/prepare.log" | tr -d '\r' >&2
    rm -f "$part/disks-made"  # the root disk has been booted: start again from nothing
    fail "the guest did not make its Wine prefix"
  fi
  e2fsck -fp "$part/root.img" >>"$part/build.log" 2>&1 || [ $? -le 1 ] ||
    fail "the image's file system is damaged; see $part/build.log"
  log "prefix made in $((SECONDS - began)) s"
}

if [ $disks_here -eq 1 ]; then make_disks; exit 0; fi
if [ ! -f "$part/disks-made" ]; then
  unshare --mount --propagation private "$0" --disks-here || exit 1
fi
[ $disks_only -eq 0 ] || exit 0
make_prefix
printf 'recipe %s\n' "$hash" >"$part/complete"
rm -rf "$image"
mv "$part" "$image"
[ -z "${SUDO_UID:-}" ] || chown -R "$SUDO_UID:${SUDO_GID:-$SUDO_UID}" "$cache"
# Images of other recipes not used for a day are removed.
find "$cache" -mindepth 1 -maxdepth 1 -name 'guest-*' ! -name "guest-$hash" -type d ! -newermt '1 day ago' \
  -exec rm -rf {} + 2>/dev/null || true
log "ready: $(du -sh "$image" | cut -f1) on disk (the root disk's file $(du -sh --apparent-size "$image/root.img" | cut -f1), sparse)"
echo "$image"
