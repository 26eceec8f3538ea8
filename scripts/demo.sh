#!/usr/bin/env bash
# The demo: a stand-in LYR recorder with demo recordings (PCM and MPEG-1
# Layer II, mono and stereo, 32/44.1/48 kHz), served as a raw disk through
# FUSE. With a display, lyr-manager runs with the stand-in plugged in
# (published as a USB disk in a private sysfs tree); without one, lyrctl
# shows what it reads from it.
set -euo pipefail
build=$(realpath "${1:-build}")
emu="$build/tools/lyr-emu/lyr-emu"
ctl="$build/tools/lyrctl/lyrctl"
manager="$build/src/app/lyr-manager"
stand_in_tag=demo
source "$(dirname "$0")/stand-in.sh"

if [ ! -w /dev/fuse ]; then
  echo "demo: /dev/fuse is not usable here, so the stand-in recorder cannot be served" >&2
  exit 1
fi

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "lyr-emu init $work/store --demo"
"$emu" init "$work/store" --demo

gui=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  if [ -x "$manager" ]; then gui=1; else echo "demo: $manager was not built (Qt 6 missing?): running the command-line demo" >&2; fi
else
  echo "demo: no display (DISPLAY and WAYLAND_DISPLAY are unset), so lyr-manager cannot be shown: running the command-line demo instead" >&2
fi

serve_args=()
if [ "$gui" = 1 ]; then
  mkdir -p "$work/sys"
  serve_args=(--sysfs "$work/sys")
fi
step "lyr-emu serve $work/store $mnt ${serve_args[*]}"
serve_stand_in "$emu" "${serve_args[@]}" || exit 1
cat "$work/serve.log"

if [ "$gui" = 1 ]; then
  step "lyr-manager with the stand-in plugged in (end it with Exit in the tray menu, File > Exit where the desktop has no tray, or Ctrl+C here)"
  echo "unplug and plug it back: kill -USR1 $pid / kill -USR2 $pid"
  LYR_SYSFS_ROOT="$work/sys" "$manager" || true
  step "stopping the stand-in"
  exit 0
fi

step "lyrctl --device $mnt/disk info"
"$ctl" --device "$mnt/disk" info

if "$ctl" --help | grep -q '^  list'; then
  step "lyrctl --device $mnt/disk list"
  "$ctl" --device "$mnt/disk" list
fi
if "$ctl" --help | grep -q '^  export'; then
  step "lyrctl --device $mnt/disk export --all --sha1 --to $work/export"
  "$ctl" --device "$mnt/disk" export --all --sha1 --yes --to "$work/export"
  ls -l "$work/export"
  step "sha1sum agrees with every digest file"
  (cd "$work/export" && for t in *.txt; do printf '%s  %s\n' "$(cat "$t")" "$(ls "${t%.txt}".wav "${t%.txt}".mp2 2>/dev/null)"; done | sha1sum -c)
fi

step "stopping the stand-in"
kill -INT "$pid"
wait "$pid" || true
pid=""
cat "$work/serve.log"
