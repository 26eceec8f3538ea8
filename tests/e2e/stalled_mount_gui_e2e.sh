#!/usr/bin/env bash
# lyr-manager starts while a mounted volume has stopped answering (a FUSE
# server that never replies, mounted where the copy page lists volumes):
# the program reaches its first connection report within 5 s instead of
# waiting on the mount. Runs offscreen. Exit 77 is a skip (no FUSE here);
# in CI (CI=true) that is a failure instead.
set -uo pipefail
manager=$1
stalled=$2
in_ci() { case "${CI:-}" in ""|false|0) return 1 ;; *) return 0 ;; esac; }
skip() {
  if in_ci; then echo "FAIL: $*" >&2; exit 1; fi
  echo "SKIP: $*" >&2; exit 77
}
{ exec 3<>/dev/fuse; } 2>/dev/null || skip "/dev/fuse cannot be opened"
exec 3>&-

work=$(mktemp -d "${TMPDIR:-/tmp}/lyr-stalled-XXXXXX")
fuse_pid=""
mgr_pid=""
cleanup() {
  [ -n "$mgr_pid" ] && kill -KILL "$mgr_pid" 2>/dev/null
  # Killing the server fails the requests it held; then the mount goes.
  [ -n "$fuse_pid" ] && kill -KILL "$fuse_pid" 2>/dev/null && wait "$fuse_pid" 2>/dev/null
  fusermount3 -u -z "$work/stalled" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/stalled" "$work/home" "$work/sys" "$work/config"
"$stalled" "$work/stalled" &
fuse_pid=$!
for _ in $(seq 100); do
  grep -qF " $work/stalled " /proc/self/mounts && break
  sleep 0.05
done
grep -qF " $work/stalled " /proc/self/mounts || skip "the stalled mount did not come up"

start=$(date +%s%N)
HOME="$work/home" XDG_CONFIG_HOME="$work/config" LYR_SYSFS_ROOT="$work/sys" LYR_TRACE=1 \
  QT_QPA_PLATFORM=offscreen "$manager" >"$work/mgr.log" 2>&1 &
mgr_pid=$!
for _ in $(seq 100); do
  grep -qF 'frame: pane' "$work/mgr.log" && break
  sleep 0.05
done
took=$(( ($(date +%s%N) - start) / 1000000 ))
if ! grep -qF 'frame: pane' "$work/mgr.log"; then
  echo "FAIL: no connection report within 5 s while a mount does not answer" >&2
  cat "$work/mgr.log" >&2
  exit 1
fi
echo "first connection report after $took ms"
