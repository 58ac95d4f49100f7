#!/usr/bin/env bash
# The Wine session: a private X server and a throwaway Wine prefix in which
# the Windows programs of a build run.
#   scripts/wine-session.sh start DIR ARCH      start Xvfb and a fresh prefix in DIR
#   scripts/wine-session.sh stop DIR            end the prefix's processes and Xvfb
#   scripts/wine-session.sh run DIR ARCH CMD... start, run CMD, stop (also on failure)
#   scripts/wine-session.sh logoff DIR          end every process of the prefix, as a
#                                               log off; the next program starts a new
#                                               session, its environment from the registry
# ARCH is that of the programs the session runs: i686 (a 32-bit prefix under
# 32-bit Wine) or x86_64 (a 64-bit prefix under 64-bit Wine).
# WINE_SESSION_PREFIX, when set, names a prefix that an earlier start of the
# same ARCH made: start copies it rather than make one.
# DIR/env holds the environment that scripts/wine-env.sh gives each program.
# Everything Wine and Xvfb print goes to files in DIR: their background
# processes would hold a pipe open for ever.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
usage="usage: wine-session.sh start DIR ARCH | run DIR ARCH CMD... | stop DIR | logoff DIR"
command=${1:?$usage}
dir=${2:?$usage}
shift 2
winearch=""
case "$command" in
  start | run)
    case "${1:-}" in
      i686) winearch=win32 ;;
      x86_64) winearch=win64 ;;
      *) echo "$usage" >&2; exit 2 ;;
    esac
    arch=$1
    shift ;;
esac
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

# The screen the window tests expect: 1024 x 768.
screen=1024x768x24

log() { echo "wine-session: $*"; }

# Run as root, Wine would open a read-only file for writing, as root may;
# Windows refuses that to everyone. So Wine runs as an ordinary user: root
# mapped to one in a user namespace of its own, still the owner of the same
# files but without root's privileges. DIR/bin, first on the session's PATH,
# holds the Wine commands that do so, so that every user of DIR/env reaches
# the same wineserver.
make_wrappers() {
  mkdir -p "$dir/bin"
  local tool real as_user="unshare --user --map-user=4711 --map-group=4711 --"
  if [ "$(id -u)" -ne 0 ]; then
    as_user=""
  elif ! $as_user true 2>/dev/null; then
    # A container may forbid user namespaces: Wine then runs as root, and
    # read-only files are not refused as Windows refuses them.
    log "warning: no user namespace here; Wine runs as root"
    as_user=""
  fi
  # The real commands: not those of a session whose env is sourced here.
  local search="" entry
  local IFS=:
  for entry in $PATH; do
    grep -qs '^# wine session command' "$entry/wine" && continue
    search=${search:+$search:}$entry
  done
  unset IFS
  local command
  for tool in wine wineserver wineboot winepath; do
    if [ "$winearch" = win64 ]; then
      # 64-bit Wine alone: its loader and server by name, the rest through it.
      [ -x /usr/lib/wine/wine64 ] && [ -x /usr/lib/wine/wineserver64 ] ||
        { log "64-bit Wine is not installed (scripts/install-cross-deps.sh installs wine64)"; return 1; }
      case $tool in
        wine) command=/usr/lib/wine/wine64 ;;
        wineserver) command=/usr/lib/wine/wineserver64 ;;
        *) command="/usr/lib/wine/wine64 $tool" ;;
      esac
    else
      real=$(PATH=$search command -v "$tool") || { log "$tool is not installed"; return 1; }
      command="\"$real\""
    fi
    printf '#!/bin/sh\n# wine session command\nexec %s %s "$@"\n' "$as_user" "$command" >"$dir/bin/$tool"
    chmod +x "$dir/bin/$tool"
  done
}

stop_session() {
  if [ -f "$dir/env" ]; then
    # shellcheck disable=SC1091
    ( . "$dir/env" && wineserver -k ) >>"$dir/wineserver.log" 2>&1 </dev/null || true
  fi
  if [ -f "$dir/xvfb.pid" ]; then
    pid=$(cat "$dir/xvfb.pid")
    # Only our own server: the pid file holds the Xvfb this session started.
    if kill -0 "$pid" 2>/dev/null && grep -q Xvfb "/proc/$pid/cmdline" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$dir/xvfb.pid"
  fi
  rm -f "$dir/env"
}

# The font the program asks for, "Times New Roman", is not Wine's: Liberation
# Serif has its metrics, so that texts are as wide as on Windows and look it.
serif=/usr/share/fonts/truetype/liberation/LiberationSerif-Regular.ttf

start_session() {
  stop_session
  rm -rf "$dir/prefix" "$dir/display" "$dir/Xauthority"
  local tool
  for tool in Xvfb xauth; do
    command -v "$tool" >/dev/null || { log "$tool is not installed (scripts/install-cross-deps.sh installs it)"; return 1; }
  done
  [ -f "$serif" ] || { log "no $serif (scripts/install-cross-deps.sh installs fonts-liberation)"; return 1; }
  make_wrappers || return 1
  local cookie
  cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')

  # Xvfb picks a free display itself and writes its number to fd 3, so two
  # sessions on one machine never race for the same display.
  : >"$dir/Xauthority"
  xauth -f "$dir/Xauthority" add :0 . "$cookie" >/dev/null 2>&1
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -auth "$dir/Xauthority" \
    3>"$dir/display" </dev/null >"$dir/xvfb.log" 2>&1 &
  echo $! >"$dir/xvfb.pid"
  local display=""
  for _ in $(seq 100); do
    display=$(tr -d ' \n' <"$dir/display" 2>/dev/null || true)
    [ -n "$display" ] && break
    kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$display" ]; then
    log "Xvfb did not start; see $dir/xvfb.log"
    stop_session
    return 1
  fi
  xauth -f "$dir/Xauthority" add ":$display" . "$cookie" >/dev/null 2>&1

  cat >"$dir/env" <<EOF
export DISPLAY=:$display
export XAUTHORITY=$dir/Xauthority
export WINEPREFIX=$dir/prefix
export WINEARCH=$winearch
export SESSION_ARCH=$arch
$([ $winearch = win32 ] || printf 'export WINELOADER=/usr/lib/wine/wine64\nexport WINESERVER=/usr/lib/wine/wineserver64')
export WINEDEBUG=-all
export WINEDLLOVERRIDES='winedbg.exe=d;mscoree=d;mshtml=d'
export PATH=$dir/bin:\$PATH
EOF
  # The prefix is made once per run; a persistent server keeps it warm for
  # every test program of the run.
  # No window manager runs in the session: Wine would wait two seconds for one
  # each time a window is hidden, unless its windows are unmanaged.
  printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' '"Managed"="N"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' '"Times New Roman"="Liberation Serif"' '' >"$dir/session.reg"
  local made
  if [ -n "${WINE_SESSION_PREFIX:-}" ]; then
    # A prefix an earlier start made for programs of the same kind is copied
    # instead: under full-system emulation wineboot takes minutes.
    grep -qsx "#arch=$winearch" "$WINE_SESSION_PREFIX/system.reg" ||
      { log "WINE_SESSION_PREFIX=$WINE_SESSION_PREFIX holds no $winearch prefix"; stop_session; return 1; }
    made='cp -a "$WINE_SESSION_PREFIX" "$WINEPREFIX" && wineserver -p'
  else
    # Wine's first process waits five minutes at most for the prefix's own
    # wineboot --init, which takes longer under emulation; a server that ends
    # with its last process says when all of that is done.
    made='mkdir -p "$WINEPREFIX" && { wineboot -i || echo "wineboot -i ended with status $?"; } && wineserver -w &&
          wineserver -p && wine regedit /S "$(winepath -w "$dir/session.reg")"'
  fi
  if ! ( . "$dir/env" && eval "$made" ) </dev/null >"$dir/wineboot.log" 2>&1; then
    if grep -q 'Exec format error' "$dir/wineboot.log"; then
      log "this system runs no 32-bit x86 programs (its kernel has no IA32 emulation), which 32-bit Wine needs"
    else
      log "wineboot failed; see $dir/wineboot.log"
    fi
    stop_session
    return 1
  fi
  log "display :$display, prefix $dir/prefix"
}

# The registry is saved as the server ends; a persistent one is started again.
log_off() {
  [ -f "$dir/env" ] || { log "no session running in $dir"; return 1; }
  # shellcheck disable=SC1091
  ( . "$dir/env" && { wineserver -k || true; } && wineserver -w && wineserver -p ) >>"$dir/wineserver.log" 2>&1 </dev/null
}

case "$command" in
  start) start_session ;;
  logoff) log_off ;;
  stop) stop_session ;;
  run)
    [ $# -gt 0 ] || { echo "$usage" >&2; exit 2; }
    trap stop_session EXIT
    trap 'exit 130' INT TERM
    start_session
    status=0
    "$@" || status=$?
    exit "$status"
    ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
