#!/usr/bin/env bash
# The shipped 32-bit programs, run whatever this machine's kernel:
#   scripts/i686-stage.sh ARCH RELEASE_BIN TOOLS_BIN DEMO_DIR WORK_DIR
# RELEASE_BIN holds the i686 Release setup.exe, uninstall.exe, pkgtree.exe and unpacker.exe,
# TOOLS_BIN the i686 robot.exe and progman_standin.exe, DEMO_DIR the demo's
# plain tree and its packages, without and with uninstall.exe (made with that
# setup.exe; the second signed). ARCH is the Makefile's WIN_ARCH:
# i686 runs tests/e2e/i686_cases.sh under this machine's own 32-bit Wine;
# x86_64 (a kernel that runs no 32-bit code) runs it in an emulated x86_64
# machine (scripts/guest/image.sh makes it, cached) whose kernel does: a
# qcow2 overlay over the cached root disk, a second disk carrying the
# programs, the demo and the scripts in and the results out.
# Ends with "i686: N passed, N failed" (N counts checks); status 1 when a
# check failed or the guest did not finish, and then the tail of the guest's
# console says why. GUEST_TIMEOUT (seconds) bounds the guest's run.
set -uo pipefail
usage="usage: i686-stage.sh ARCH RELEASE_BIN TOOLS_BIN DEMO_DIR WORK_DIR"
[ $# -eq 5 ] || { echo "$usage" >&2; exit 2; }
arch=$1 release=$2 tools_bin=$3 demo=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)
project=$(cd "$here/.." && pwd)
started=$SECONDS
stage_failed() {  # the closing line when nothing, or not everything, ran
  echo "i686-test: $1"
  echo "i686: ${2:-0} passed, $(( ${3:-0} + 1 )) failed"
  exit 1
}

rm -rf "$work"
mkdir -p "$work/tools"
work=$(cd "$work" && pwd)
for f in "$release/setup.exe" "$release/uninstall.exe" "$release/pkgtree.exe" "$release/unpacker.exe" "$tools_bin/robot.exe" "$tools_bin/progman_standin.exe"; do
  cp "$f" "$work/tools/" || stage_failed "no $f"
done
[ -d "$demo/plain" ] && [ -f "$demo/package/setup.exe" ] && [ -f "$demo/uninstaller-package/setup.exe" ] ||
  stage_failed "no demo packages in $demo"
# The demo package as one file, made here where zip is: the shipped
# unpacker.exe with the package folder zipped after it.
command -v zip >/dev/null || stage_failed "zip is missing (scripts/install-deps.sh installs it)"
rm -rf "$demo/one-file"
mkdir -p "$demo/one-file"
one_file=$(cd "$demo/one-file" && pwd)  # zip runs in the package folder
( cd "$demo/package" && zip -q -0 -r "$one_file/archive.zip" setup.exe env inf source ) &&
  cat "$release/unpacker.exe" "$demo/one-file/archive.zip" >"$demo/one-file/gcc-demo.exe" &&
  zip -q -A "$demo/one-file/gcc-demo.exe" || stage_failed "the demo's one file was not made from $release/unpacker.exe"
rm -f "$demo/one-file/archive.zip"

case $arch in
  i686)
    echo "i686-test: the shipped 32-bit programs under this machine's 32-bit Wine"
    bash "$project/tests/e2e/i686_cases.sh" "$work/tools" "$demo" "$work/run"
    status=$?
    echo "i686-test: took $((SECONDS - started)) s"
    exit $status ;;
  x86_64) ;;
  *) echo "$usage" >&2; exit 2 ;;
esac

echo "i686-test: this machine's kernel runs no 32-bit code: the shipped 32-bit programs run under 32-bit Wine in an emulated x86_64 machine"
image=$("$here/guest/image.sh") || stage_failed "the guest image was not built"
touch "$image"  # in use: not pruned as an old recipe's
echo "i686-test: guest image $image ($(( SECONDS - started )) s)"

# The second disk: the cases' scripts where they stand in the project, the
# programs, the demo, and the task guest-init runs.
payload=$work/payload
mkdir -p "$payload/scripts" "$payload/tests/e2e"
cp "$project"/scripts/*.sh "$payload/scripts/"
cp "$project"/tests/e2e/*.sh "$payload/tests/e2e/"
cp -a "$work/tools" "$payload/tools"
mkdir -p "$payload/demo"
cp -a "$demo/plain" "$demo/package" "$demo/uninstaller-package" "$demo/one-file" "$payload/demo/"
# Emulated, a program runs many times slower than here: the robot's and the
# runs' own limits are raised, and the guest's time limit bounds them all.
cat >"$payload/task" <<'EOF'
export SETUP_ROBOT_TIMEOUT_MS=900000 SETUP_E2E_TIMEOUT=1800
cd /payload && bash tests/e2e/i686_cases.sh /payload/tools /payload/demo /payload/work
EOF
# Room for the runs' prefixes and installed trees (a sparse file).
size=$(( $(du -sm "$payload" | cut -f1) * 4 + 2048 ))
mke2fs -q -t ext4 -E root_owner=0:0 -d "$payload" "$work/payload.img" "${size}M" >"$work/mke2fs.log" 2>&1 ||
  stage_failed "the payload disk was not made: $(tail -n1 "$work/mke2fs.log")"
rm -rf "$payload"
qemu-img create -q -f qcow2 -b "$image/root.img" -F raw "$work/root.qcow2" >"$work/qemu-img.log" 2>&1 ||
  stage_failed "no overlay over $image/root.img: $(tail -n1 "$work/qemu-img.log")"

limit=${GUEST_TIMEOUT:-1500}
echo "i686-test: the guest runs the cases (at most $limit s); its console is $work/console.log"
booted=$SECONDS
"$here/guest/boot.sh" "$image" run "$work/root.qcow2" "$work/payload.img" "$limit" "$work/console.log" 2>"$work/boot.err"
boot_status=$?
took=$((SECONDS - booted))
rm -f "$work/root.qcow2"
# -c: a guest stopped by the time limit leaves its file system unclean.
debugfs -c -R "rdump /out $work" "$work/payload.img" >"$work/debugfs.log" 2>&1
log=$work/out/log
if [ -s "$log" ]; then
  cat "$log"
else
  # What the guest wrote to its disk was lost with it; its console kept it.
  log=$work/console.log
fi
passed=$(grep -c '^ok: ' "$log" 2>/dev/null) failed=$(grep -c '^FAILED: ' "$log" 2>/dev/null)
closing=$(grep -E '^i686: [0-9]+ passed, [0-9]+ failed$' "$log" 2>/dev/null | tail -n1)
if [ -n "$closing" ] && [ -f "$work/out/status" ]; then
  rm -f "$work/payload.img"  # kept only when the guest did not finish, for a look
  echo "i686-test: the guest ran for $took s; the stage took $((SECONDS - started)) s"
  exit "$(( $(cat "$work/out/status") != 0 ))"
fi
case $boot_status in
  124 | 137) why="the guest did not finish within $limit s" ;;
  0) why="the guest stopped before the cases ended" ;;
  *) why="qemu ended with status $boot_status: $(tail -n1 "$work/boot.err")" ;;
esac
echo "i686-test: $why; the last lines of its console ($work/console.log):"
tail -n 25 "$work/console.log" 2>/dev/null | tr -d '\r' | sed 's/^/  /'
stage_failed "the guest ran for $took s and did not finish" "${passed:-0}" "${failed:-0}"
