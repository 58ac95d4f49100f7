#!/usr/bin/env bash
# One boot of the guest (scripts/guest/image.sh makes it), under full-system
# emulation (TCG: this machine gives no KVM), with a hard time limit:
#   scripts/guest/boot.sh IMAGE_DIR TASK ROOT_DISK PAYLOAD_DISK SECONDS CONSOLE_LOG
# TASK is what guest-init does (prepare, run). ROOT_DISK is a raw image or a
# qcow2 overlay; PAYLOAD_DISK, a raw image, may be "". The guest's console
# goes to CONSOLE_LOG. Exits 0 when the guest powered itself off, 124 when
# the time ran out.
set -euo pipefail
usage="usage: boot.sh IMAGE_DIR TASK ROOT_DISK PAYLOAD_DISK SECONDS CONSOLE_LOG"
[ $# -eq 6 ] || { echo "$usage" >&2; exit 2; }
image=$1 task=$2 root=$3 payload=$4 limit=$5 console=$6
format=raw
case $root in *.qcow2) format=qcow2 ;; esac
disks=(-drive "file=$root,if=virtio,format=$format,cache=unsafe")
[ -z "$payload" ] || disks+=(-drive "file=$payload,if=virtio,format=raw,cache=unsafe")
command -v qemu-system-x86_64 >/dev/null ||
  { echo "boot: qemu-system-x86_64 is not installed (scripts/install-cross-deps.sh installs qemu-system-x86)" >&2; exit 1; }
# -smap off: under TCG in qemu 7.2, SMAP breaks Wine's return to user mode
# (every Wine process dies with a kernel oops).
exec timeout --foreground --kill-after=10 "$limit" qemu-system-x86_64 -machine q35 -accel tcg,thread=multi -cpu max,-smap \
  -smp 2 -m 3G -display none -monitor none -serial "file:$console" -no-reboot -nic none \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "console=ttyS0 panic=1 quiet gcc_setup_task=$task" "${disks[@]}" </dev/null
