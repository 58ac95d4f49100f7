# Sourced by every script that runs apt-get or dpkg to install: one at a
# time on the machine. `make -j4 test` starts install-deps.sh and
# install-cross-deps.sh side by side, and dpkg refuses a second install
# while one runs.
#   . scripts/apt-lock.sh; apt_locked [sudo] apt-get install ...
# The lock is held by a subshell for the command's run only; the command
# itself does not inherit it, so a service its packages start cannot keep
# it held.
apt_locked() {
  command -v flock >/dev/null || { echo "apt-lock: flock (util-linux) is missing: the apt steps cannot be kept apart" >&2; return 1; }
  local dir=/var/lock
  [ -d "$dir" ] && [ -w "$dir" ] || dir=${TMPDIR:-/tmp}
  local lock=$dir/gcc-setup-apt.lock
  # Made readable by all, so that root and a user (through sudo) share it;
  # flock needs no more than a descriptor open for reading.
  [ -e "$lock" ] || (umask 022 && : >>"$lock") 2>/dev/null
  (
    exec 9<"$lock" || { echo "apt-lock: cannot open $lock" >&2; exit 1; }
    flock 9
    "$@" 9<&-
  )
}
