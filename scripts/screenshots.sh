#!/usr/bin/env bash
# Renders lyr-manager's windows to build/screenshots/*.png with the demo
# stand-in recorder plugged in (served through FUSE and published in a
# private sysfs tree), offscreen: no desktop needed.
set -euo pipefail
build=$(realpath "${1:-build}")
emu="$build/tools/lyr-emu/lyr-emu"
shots="$build/screenshots"
work=$(mktemp -d "${TMPDIR:-/tmp}/lyr-shots-XXXXXX")
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill -INT "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  if mountpoint -q "$work/mnt" 2>/dev/null; then fusermount3 -u -z "$work/mnt" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$emu" init "$work/store" --demo >/dev/null
mkdir -p "$work/mnt" "$work/sys" "$shots"
"$emu" serve "$work/store" "$work/mnt" --sysfs "$work/sys" >"$work/serve.log" 2>&1 &
pid=$!
for _ in $(seq 100); do [ -f "$work/mnt/disk" ] && break; sleep 0.05; done
[ -f "$work/mnt/disk" ] || { cat "$work/serve.log" >&2; exit 1; }

QT_QPA_PLATFORM=offscreen LYR_SYSFS_ROOT="$work/sys" XDG_CONFIG_HOME="$work/config" \
  "$build/src/app/lyr-screenshots" "$shots" "$pid"
