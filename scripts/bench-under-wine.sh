#!/usr/bin/env bash
# The installer against the alternatives under Wine, on one payload:
# setup.exe driven by the robot (the Install click to the Finish button),
# pkgtree.exe -j 1 expand (the same engine on one thread, no window) and a
# solid bzip2 installer made by makensis from the same plain tree, run silently,
# and the same installer with its progress page listing each file, timed from
# start to exit; and the one-file package of the payload, the unpacker's time
# from its start to setup.exe's licence page against setup.exe's Install to
# Finish (the bench fails above 10 %).
# Then setup.exe on a tree of 10 000 small files: the per-file repaint.
#
#   scripts/bench-under-wine.sh WIN_BUILD NATIVE_PKGTREE PLAIN_TREE PACKAGE_SOURCE WORK [RUNS]
#   scripts/bench-under-wine.sh --route ARCH DIR
#
# WIN_BUILD holds bin/setup.exe, pkgtree.exe, robot.exe, progman_standin.exe
# (and unpacker.exe for the payload, whose one-file package is timed too),
# all i686 or all x86_64; the route follows them: i686 programs under 32-bit
# Wine against a 32-bit peer, x86_64 ones under 64-bit Wine against a peer
# made for amd64. The programs always run on this machine's own Wine: timings
# taken in an emulated machine say nothing of speed, so a route this kernel
# cannot run natively is refused rather than emulated.
# PACKAGE_SOURCE is PLAIN_TREE made by `pkgtree compress`. Prints medians of
# RUNS runs (3 by default) with the command of each, and the ratios, then a
# summary that names the route. Everything Wine prints goes to files under WORK.
# --route prints the line that names the route of ARCH (DIR: a folder to run
# the kernel's probe from).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)

# The one line that says what the bench runs. The probe tells a forced
# x86_64 route from one this kernel leaves no choice about.
route_line() {  # ARCH PROBE_DIR
  local kernel
  kernel=$("$here/windows-arch.sh" "$2") || return 1
  case "$1:$kernel" in
    i686:i686) echo "bench: i686 route: the i686 build as it ships under 32-bit Wine" ;;
    i686:*)
      echo "bench-under-wine: this machine's kernel runs no 32-bit programs, and the i686 programs are timed only where they run natively (emulated timings are not speed): use WIN_ARCH=x86_64" >&2
      return 1 ;;
    x86_64:x86_64) echo "bench: x86_64 route: the x86_64 build of the same sources under 64-bit Wine (this machine's kernel runs no 32-bit programs)" ;;
    x86_64:*) echo "bench: x86_64 route: the x86_64 build of the same sources under 64-bit Wine (WIN_ARCH=x86_64; this machine runs the i686 build too)" ;;
    *) echo "bench-under-wine: no route $1 (i686 or x86_64)" >&2; return 2 ;;
  esac
}

if [ "${1:-}" = --route ]; then
  route_line "${2:?usage: bench-under-wine.sh --route ARCH DIR}" "${3:?usage: bench-under-wine.sh --route ARCH DIR}"
  exit
fi

usage="usage: bench-under-wine.sh WIN_BUILD NATIVE_PKGTREE PLAIN_TREE PACKAGE_SOURCE WORK [RUNS] | --route ARCH DIR"
win_build=$(cd "${1:?$usage}" && pwd)
pkgtree=$(realpath "${2:?$usage}")
plain=$(cd "${3:?$usage}" && pwd)
source_tree=$(cd "${4:?$usage}" && pwd)
mkdir -p "${5:?$usage}"
work=$(cd "$5" && pwd)
runs=${6:-3}
small_files=${SETUP_BENCH_SMALL_FILES:-10000}
# Which parts run: "payload small" by default; one alone while tuning.
# SETUP_BENCH_SETTLE: seconds to wait before the runs (see settle).
parts=${SETUP_BENCH_PARTS:-payload small}
tools=$win_build/bin

arch=""
# The one file of the payload needs the unpacker of the same build.
programs="setup pkgtree robot progman_standin"
case " $parts " in *" payload "*) programs+=" unpacker" ;; esac
for exe in $programs; do
  [ -f "$tools/$exe.exe" ] || { echo "bench-under-wine: no $tools/$exe.exe" >&2; exit 1; }
  kind=$("$here/windows-arch.sh" --program "$tools/$exe.exe") || exit 1
  [ "${arch:-$kind}" = "$kind" ] || { echo "bench-under-wine: $tools/$exe.exe is $kind, setup.exe $arch: one build, one route" >&2; exit 1; }
  arch=$kind
done
route=$(route_line "$arch" "$work") || exit 1
# Peak memory comes from GNU time, not the shell's keyword.
[ -x /usr/bin/time ] || { echo "bench-under-wine: GNU time (/usr/bin/time) is not installed (scripts/install-cross-deps.sh installs time)" >&2; exit 1; }


# SETUP_BENCH_WINE_DIR names a Wine bench already running (a test run's) to
# use and leave running; otherwise the bench is one of our own.
bench=${SETUP_BENCH_WINE_DIR:-}
own_bench=0
if [ -z "$bench" ]; then
  bench=$work/wine-session
  own_bench=1
  "$here/wine-session.sh" start "$bench" "$arch" >"$work/bench-start.log"
fi
standin="" drive_c=""
cleanup() {
  [ -z "$standin" ] || kill "$standin" 2>/dev/null || true
  [ -z "$drive_c" ] || rm -rf "$drive_c/bench"
  [ $own_bench -eq 0 ] || "$here/wine-session.sh" stop "$bench" >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# shellcheck disable=SC1091
. "$bench/env"
drive_c=$WINEPREFIX/drive_c
[ "${SESSION_ARCH:-}" = "$arch" ] || {
  echo "bench-under-wine: the Wine session $bench runs ${SESSION_ARCH:-unknown} programs, these are $arch" >&2; exit 1; }

# A package folder as a user receives it: setup.exe, source, env, inf.
make_package() {  # DIR SOURCE_TREE
  rm -rf "$1"
  mkdir -p "$1"
  cp "$tools/setup.exe" "$1/setup.exe"
  ln -s "$2" "$1/source"
  # Variables of the bench's own, as many as a real package writes: a test
  # run's prefix keeps its PATH as the end-to-end cases expect it.
  printf 'BENCH_GCC_PATH\nREG_EXPAND_SZ\n\\bin\n::\nBENCH_GCC_LIBRARY_PATH\nREG_SZ\n\\lib\n::\n' >"$1/env"
  printf 'GCC Bench\n::\n$\\bin\\gcc.exe,GCC Bench\n::\nGCC Bench\n' >"$1/inf"
}

# The same files for the peer: one solid bzip2 archive, installed silently,
# built for the same machine as setup.exe (makensis's default is 32-bit).
nsis_target=""
[ "$arch" = i686 ] || nsis_target="Target amd64-unicode"
make_nsis() {  # PLAIN_TREE OUT_EXE [shown]
  # Its compiler is a bench-only tool, never needed by the tests.
  if ! command -v makensis >/dev/null; then
    local sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "installing nsis (makensis) for the bench"
    # shellcheck source=apt-lock.sh
    . "$here/apt-lock.sh"
    DEBIAN_FRONTEND=noninteractive apt_locked $sudo apt-get install -y -q --no-install-recommends nsis \
      </dev/null >"$work/apt-nsis.log" 2>&1 || { cat "$work/apt-nsis.log" >&2; exit 1; }
  fi
  local name=payload shown=""
  # The shown one lists each file on its progress page, as setup.exe's
  # window follows each file, and closes itself at the end.
  if [ "${3:-}" = shown ]; then
    name=shown
    shown=$'ShowInstDetails show\nAutoCloseWindow true\nPage instfiles'
  fi
  local script=$work/nsis/$name.nsi
  mkdir -p "$work/nsis"
  cat >"$script" <<NSI
$nsis_target
SetCompressor /SOLID bzip2
Name "GCC"
OutFile "$2"
InstallDir "C:\\gcc-nsis"
RequestExecutionLevel user
$shown
Section
  SetOutPath "\$INSTDIR"
  File /r "$1/*"
SectionEnd
NSI
  echo "makensis $script  (${nsis_target:+$nsis_target, }SetCompressor /SOLID bzip2, ${shown:+${shown//$'\n'/, }, }File /r $1/*)"
  makensis -V2 "$script" >"$work/nsis/makensis-$name.log" 2>&1 || { cat "$work/nsis/makensis-$name.log" >&2; exit 1; }
}

now() { date +%s.%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
fmt() { awk -v a="$1" 'BEGIN { printf "%.3f", a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

# setup.exe from the Install click to the Finish button, as the robot sees
# it; GNU time gives the peak resident size of the Wine process that runs it.
# Prints "SECONDS PEAK_KIB".
run_setup() {  # PACKAGE_DIR FOLDER CASE_DIR
  local package=$1 folder=$2 case=$3
  mkdir -p "$case"
  rm -f "$case/setup.ended"
  ( cd "$package" && exec "$here/run-watched.sh" "$case/setup.ended" /usr/bin/time -f '%M' -o "$case/time.txt" \
      timeout --kill-after=5 900 wine setup.exe ) </dev/null >"$case/setup.out" 2>"$case/setup.err" &
  local runner=$!
  SETUP_ROBOT_TIMEOUT_MS=900000 SETUP_ROBOT_POLL_MS=5 SETUP_ROBOT_ENDED=$(winepath -w "$case/setup.ended") \
    wine "$tools/robot.exe" window:nv_gfortran click:1 wait:5 "settext:4:$folder" \
    clock click:5 wait:7 clock click:7 gone </dev/null >"$case/robot.part" 2>&1 || {
    kill "$runner" 2>/dev/null || true
    wait "$runner" 2>/dev/null || true
    echo "bench-under-wine: the robot failed: $(tr -d '\r' <"$case/robot.part" | tail -n1); setup.exe: $(cat "$case/setup.err" "$case/setup.out" | grep -m1 . || echo "no message"); see $case" >&2
    return 1
  }
  wait "$runner" || { echo "bench-under-wine: setup.exe failed; see $case" >&2; return 1; }
  tr -d '\r' <"$case/robot.part" | awk '$1 == "clock" { t[++n] = $2 }
    END { if (n != 2) exit 1; printf "%.3f ", (t[2] - t[1]) / 1000 }'
  tail -n 1 "$case/time.txt"
}

# The one-file package, started by the robot: its clock from the unpacker's
# start to setup.exe's licence page, then setup.exe's Install click to its
# Finish button as in run_setup; the unpacker must end with status 0 and
# leave nothing in %TEMP%. Prints "UNPACK_SECONDS INSTALL_SECONDS".
run_onefile() {  # FILE FOLDER CASE_DIR
  local file=$1 folder=$2 case=$3
  mkdir -p "$case"
  (cd "$case" && SETUP_ROBOT_TIMEOUT_MS=900000 SETUP_ROBOT_POLL_MS=5 wine "$tools/robot.exe" \
    clock "start:\"$(winepath -w "$file")\"" window:nv_gfortran wait:1 clock click:1 wait:5 "settext:4:$folder" \
    clock click:5 wait:7 clock click:7 gone exit) </dev/null >"$case/robot.part" 2>&1 || {
    echo "bench-under-wine: the robot failed on the one file: $(tr -d '\r' <"$case/robot.part" | tail -n1); see $case" >&2
    return 1
  }
  local exit_line left
  exit_line=$(tr -d '\r' <"$case/robot.part" | grep '^exit ')
  [ "$exit_line" = "exit 0" ] || { echo "bench-under-wine: the one file ended with ${exit_line:-no status}; see $case" >&2; return 1; }
  left=$(find "$temp" -maxdepth 1 -name 'gcc-pkg-*' | head -n1)
  [ -z "$left" ] || { echo "bench-under-wine: the unpacker left $left" >&2; return 1; }
  tr -d '\r' <"$case/robot.part" | awk '$1 == "clock" { t[++n] = $2 }
    END { if (n != 4) exit 1; printf "%.3f %.3f\n", (t[2] - t[1]) / 1000, (t[4] - t[3]) / 1000 }'
}

# A whole Wine process, timed from outside. Prints "SECONDS PEAK_KIB".
run_timed() {  # CASE_DIR DIR PROGRAM ARGS...
  local case=$1 dir=$2
  shift 2
  mkdir -p "$case"
  local start end
  start=$(now)
  ( cd "$dir" && exec /usr/bin/time -f '%M' -o "$case/time.txt" wine "$@" ) \
    </dev/null >"$case/out.txt" 2>"$case/err.txt" || {
    # pkgtree.exe without arguments is meant to fail: the start-up baseline.
    [ "$*" = "$tools/pkgtree.exe" ] || { echo "bench-under-wine: $* failed; see $case" >&2; return 1; }
  }
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f ", b - a }'
  tail -n 1 "$case/time.txt"
}

# For a minute after many files were deleted (an old prefix, an earlier
# bench), ext4 passes over their inodes one by one when it makes new files,
# which slows the first runs: the runs wait that out, and nothing is deleted
# between them.
settle() {
  sync
  sleep "${SETUP_BENCH_SETTLE:-65}"
}

col() { cut -d' ' -f"$2" "$work/$1.times" | median; }
peak() { cut -d' ' -f2 "$work/$1.times" | sort -n | tail -n1; }

check_tree() {  # INSTALLED WHAT [PLAIN_TREE]
  diff -rq "${3:-$plain}" "$1" >"$work/diff.txt" 2>&1 || {
    echo "bench-under-wine: $2 did not install the same files; see $work/diff.txt" >&2
    exit 1
  }
}

# No window manager runs on the bench: Wine would wait for one each time a
# window is hidden, unless its windows are unmanaged.
if ! grep -qs '"Managed"="N"' "$WINEPREFIX/user.reg"; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >"$work/managed.out" 2>&1
fi
# Only the stand-in answers the group conversation, as in the end-to-end runs.
wine "$tools/robot.exe" silence-progman </dev/null >"$work/silence.out" 2>&1 || true
rm -f "$work/progman.ready"
wine "$tools/progman_standin.exe" "$(winepath -w "$work/executes.txt")" "$(winepath -w "$work/progman.ready")" \
  </dev/null >"$work/progman.out" 2>&1 &
standin=$!
for _ in $(seq 200); do [ -f "$work/progman.ready" ] && break; sleep 0.1; done

# The real payload: setup.exe, pkgtree.exe and the peer, alternated.
bench_payload() {
  package=$work/package
  make_package "$package" "$source_tree"
  nsis_exe=$work/nsis/install.exe shown_exe=$work/nsis/shown.exe
  if [ ! -f "$nsis_exe" ] || [ ! -f "$shown_exe" ] || [ "$(cat "$work/nsis/made-from" 2>/dev/null)" != "$arch $plain" ]; then
    make_nsis "$plain" "$nsis_exe"
    make_nsis "$plain" "$shown_exe" shown
    echo "$arch $plain" >"$work/nsis/made-from"
  fi
  local peer_arch exe
  for exe in "$nsis_exe" "$shown_exe"; do
    peer_arch=$("$here/windows-arch.sh" --program "$exe") || exit 1
    [ "$peer_arch" = "$arch" ] || { echo "bench-under-wine: makensis made a $peer_arch installer for the $arch route" >&2; exit 1; }
  done

  # The one file of the same files, made again when they change.
  onefile=$work/onefile/gcc-bench.exe
  if [ ! -f "$onefile" ] || [ "$(cat "$work/onefile/made-from" 2>/dev/null)" != "$arch $source_tree" ]; then
    rm -rf "$work/onefile"
    mkdir -p "$work/onefile"
    # The group's item must name a file of the package for pkgtree to make
    # one; the payload's first file stands in for gcc.exe.
    item=$(cd "$plain" && find . -type f | LC_ALL=C sort | sed -n '1 { s|^\.||; s|/|\\|g; p; }')
    printf 'GCC Bench\n::\n$%s,GCC Bench\n::\nGCC Bench\n' "$item" >"$work/onefile/inf"
    # --any-setup: on the x86_64 route the route's own programs go in.
    "$pkgtree" -q package --one-file --any-setup --setup "$tools/setup.exe" --unpacker "$tools/unpacker.exe" \
      "$plain" "$package/env" "$work/onefile/inf" "$onefile" >"$work/onefile/package.out" 2>&1 ||
      { cat "$work/onefile/package.out" >&2; exit 1; }
    echo "$arch $source_tree" >"$work/onefile/made-from"
  fi
  temp=$(winepath -u "$(wine cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')" 2>/dev/null)
  [ -d "$temp" ] || { echo "bench-under-wine: no temporary folder '$temp' in the prefix" >&2; exit 1; }

  files=$(find "$plain" -type f | wc -l)
  echo "Wine $(wine --version 2>/dev/null), payload $plain: $files files, $(du -sm "$plain" | cut -f1) MiB plain, $(du -smL "$source_tree" | cut -f1) MiB packed, $runs runs each"
  echo "  setup.exe:   cd $package && wine setup.exe; robot.exe window:nv_gfortran click:1 wait:5 settext:4:C:\\bench\\setup-N clock click:5 wait:7 clock click:7 gone"
  echo "  pkgtree.exe: cd $package && wine $tools/pkgtree.exe -j 1 expand .\\source C:\\bench\\pkgtree-N"
  echo "  NSIS:        wine $nsis_exe /S /D=C:\\bench\\nsis-N${nsis_target:+   ($nsis_target)}"
  echo "  one file:    $pkgtree package --one-file --any-setup --setup $tools/setup.exe --unpacker $tools/unpacker.exe PLAIN ENV INF $onefile; robot.exe clock start:$onefile window:nv_gfortran wait:1 clock click:1 wait:5 settext:4:C:\\bench\\onefile-N clock click:5 wait:7 clock click:7 gone exit"
  echo "  NSIS shown:  wine $shown_exe /D=C:\\bench\\shown-N   (its progress page listing each file, closed at the end; start to exit)"
  echo "  start-up:    wine $tools/pkgtree.exe   (no arguments: the cost of starting a Wine process)"

  : >"$work/setup.times"; : >"$work/pkgtree.times"; : >"$work/nsis.times"; : >"$work/shown.times"; : >"$work/onefile.times"
  for run in $(seq "$runs"); do
    # Alternated, each into a folder of its own, so that none gains from the
    # order; nothing is deleted between runs (see settle).
    run_setup "$package" "C:\\bench\\setup-$run" "$work/runs/setup-$run" >>"$work/setup.times"
    check_tree "$drive_c/bench/setup-$run" setup.exe
    run_timed "$work/runs/pkgtree-$run" "$package" "$tools/pkgtree.exe" -j 1 expand '.\source' "C:\\bench\\pkgtree-$run" \
      >>"$work/pkgtree.times"
    check_tree "$drive_c/bench/pkgtree-$run" pkgtree.exe
    run_timed "$work/runs/nsis-$run" "$work/nsis" "$nsis_exe" /S "/D=C:\\bench\\nsis-$run" >>"$work/nsis.times"
    check_tree "$drive_c/bench/nsis-$run" "the NSIS installer"
    run_timed "$work/runs/shown-$run" "$work/nsis" "$shown_exe" "/D=C:\\bench\\shown-$run" >>"$work/shown.times"
    check_tree "$drive_c/bench/shown-$run" "the shown NSIS installer"
    run_onefile "$onefile" "C:\\bench\\onefile-$run" "$work/runs/onefile-$run" >>"$work/onefile.times"
    check_tree "$drive_c/bench/onefile-$run" "the one file"
    run_timed "$work/runs/startup-$run" "$package" "$tools/pkgtree.exe" >>"$work/startup.times"
    echo "  run $run: setup.exe $(tail -n1 "$work/setup.times"), pkgtree.exe $(tail -n1 "$work/pkgtree.times"), NSIS $(tail -n1 "$work/nsis.times"), NSIS shown $(tail -n1 "$work/shown.times") (s, peak KiB), one file $(tail -n1 "$work/onefile.times") (s unpacking, s installing)"
  done

  setup_s=$(col setup 1) pkgtree_s=$(col pkgtree 1) nsis_s=$(col nsis 1) startup_s=$(col startup 1)
  pkgtree_net=$(awk -v a="$pkgtree_s" -v b="$startup_s" 'BEGIN { printf "%.3f", a - b }')
  nsis_net=$(awk -v a="$nsis_s" -v b="$startup_s" 'BEGIN { printf "%.3f", a - b }')
  shown_s=$(col shown 1)
  shown_net=$(awk -v a="$shown_s" -v b="$startup_s" 'BEGIN { printf "%.3f", a - b }')
  echo "medians (s): setup.exe Install->Finish $(fmt "$setup_s"); pkgtree.exe $(fmt "$pkgtree_s") ($pkgtree_net without start-up); NSIS $(fmt "$nsis_s") ($nsis_net without start-up); NSIS shown $(fmt "$shown_s") ($shown_net without start-up); Wine start-up $(fmt "$startup_s")"
  echo "ratio setup.exe / pkgtree.exe: $(ratio "$setup_s" "$pkgtree_net") (start-up taken off pkgtree.exe; $(ratio "$setup_s" "$pkgtree_s") against its whole run; target <= 1.15)"
  echo "ratio setup.exe / NSIS:        $(ratio "$setup_s" "$nsis_net") (start-up taken off NSIS; $(ratio "$setup_s" "$nsis_s") against its whole run; target <= 1.0)"
  echo "ratio setup.exe / NSIS shown:  $(ratio "$setup_s" "$shown_net") (start-up taken off NSIS shown; $(ratio "$setup_s" "$shown_s") against its whole run; both windows follow each file)"
  unpack_s=$(col onefile 1) onefile_install_s=$(col onefile 2)
  share=$(awk -v a="$unpack_s" -v b="$onefile_install_s" 'BEGIN { printf "%.1f", 100 * a / b }')
  echo "one file: the unpacker's start to the licence page $(fmt "$unpack_s") s, setup.exe Install->Finish in the same runs $(fmt "$onefile_install_s") s: share $share % (limit 10 %); $(ratio "$unpack_s" "$setup_s") of the folder's Install->Finish"
  echo "peak memory (max RSS of the Wine process, GNU time; wineserver not counted): setup.exe $(peak setup) KiB, pkgtree.exe $(peak pkgtree) KiB, NSIS $(peak nsis) KiB, NSIS shown $(peak shown) KiB"
  summary+=("setup.exe $(fmt "$setup_s") s against the solid installer ($arch) $nsis_net s without start-up: ratio $(ratio "$setup_s" "$nsis_net") (target <= 1.0)"
            "setup.exe $(fmt "$setup_s") s against the solid installer showing each file ($arch) $shown_net s without start-up: ratio $(ratio "$setup_s" "$shown_net")"
            "one file: unpacking $(fmt "$unpack_s") s = $share % of setup.exe's Install->Finish $(fmt "$onefile_install_s") s (limit 10 %)"
            "setup.exe $(fmt "$setup_s") s against pkgtree.exe $pkgtree_net s without start-up: ratio $(ratio "$setup_s" "$pkgtree_net") (target <= 1.15)")
}

# Many small files: the window's cost per file shows here.
bench_small() {
  small=$work/small
  if [ "$(cat "$small/made" 2>/dev/null)" != "$small_files" ]; then
    rm -rf "$small"
    mkdir -p "$small/plain"
    awk -v n="$small_files" -v root="$small/plain" 'BEGIN {
      for (i = 0; i < n; i++) {
        dir = sprintf("%s/d%03d", root, int(i / 100))
        if (i % 100 == 0) system("mkdir -p " dir)
        f = sprintf("%s/file%05d.h", dir, i)
        printf "/* small file %d */\n#define SMALL_%d %d\n", i, i, i * 7 > f
        close(f)
      }
    }'
    "$pkgtree" compress "$small/plain" "$small/source"
    echo "$small_files" >"$small/made"
  fi
  make_package "$small/package" "$small/source"
  : >"$work/small-setup.times"; : >"$work/small-pkgtree.times"
  for run in $(seq "$runs"); do
    run_setup "$small/package" "C:\\bench\\small-setup-$run" "$work/runs/small-setup-$run" >>"$work/small-setup.times"
    check_tree "$drive_c/bench/small-setup-$run" setup.exe "$small/plain"
    run_timed "$work/runs/small-pkgtree-$run" "$small/package" "$tools/pkgtree.exe" -j 1 expand '.\source' "C:\\bench\\small-pkgtree-$run" \
      >>"$work/small-pkgtree.times"
    run_timed "$work/runs/startup-small-$run" "$small/package" "$tools/pkgtree.exe" >>"$work/startup.times"
  done
  check_tree "$drive_c/bench/small-pkgtree-$runs" pkgtree.exe "$small/plain"
  small_setup=$(col small-setup 1) small_pkgtree=$(col small-pkgtree 1) startup_s=$(col startup 1)
  small_net=$(awk -v a="$small_pkgtree" -v b="$startup_s" 'BEGIN { printf "%.3f", a - b }')
  echo "small files: $small_files files of under 100 bytes, setup.exe (same robot steps) into C:\\bench\\small-setup-N, pkgtree.exe -j 1 expand into C:\\bench\\small-pkgtree-N"
  local per_second
  per_second=$(awk -v n="$small_files" -v t="$small_setup" 'BEGIN { printf "%.0f", n / t }')
  echo "  setup.exe $(fmt "$small_setup") s = $per_second files/s; pkgtree.exe $small_net s without start-up = $(awk -v n="$small_files" -v t="$small_net" 'BEGIN { printf "%.0f", n / t }') files/s; ratio $(ratio "$small_setup" "$small_net")"
  summary+=("setup.exe on $small_files small files: $(fmt "$small_setup") s, $per_second files/s")
}

: >"$work/startup.times"
rm -rf "$drive_c/bench"
mkdir -p "$drive_c/bench"
settle
summary=()
case " $parts " in *" payload "*) bench_payload ;; esac
case " $parts " in *" small "*) bench_small ;; esac
echo "summary:"
echo "$route"
for line in "${summary[@]}"; do echo "  $line"; done
if [ -n "${share:-}" ] && awk -v s="$share" 'BEGIN { exit !(s > 10) }'; then
  echo "bench-under-wine: FAILED: the unpacker takes $share % of the install time, more than 10 %" >&2
  exit 1
fi
