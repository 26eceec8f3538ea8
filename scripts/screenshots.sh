#!/usr/bin/env bash
# Renders lyr-manager's windows to build/screenshots/*.png with the demo
# stand-in recorder plugged in (served through FUSE and published in a
# private sysfs tree), offscreen: no desktop needed.
set -euo pipefail
build=$(realpath "${1:-build}")
emu="$build/tools/lyr-emu/lyr-emu"
shots="$build/screenshots"
stand_in_tag=shots
source "$(dirname "$0")/stand-in.sh"

"$emu" init "$work/store" --demo >/dev/null
mkdir -p "$work/sys" "$shots"
serve_stand_in "$emu" --sysfs "$work/sys"

# The panel and the pages on their own, then the program's windows (which
# unplugs the stand-in at the end).
if [ -x "$build/tools/ui-screenshots/lyr-ui-screenshots" ]; then
  QT_QPA_PLATFORM=offscreen "$build/tools/ui-screenshots/lyr-ui-screenshots" "$shots" --device "$mnt/disk"
fi
if [ -x "$build/tools/transfer-screenshots/lyr-transfer-screenshots" ]; then
  QT_QPA_PLATFORM=offscreen "$build/tools/transfer-screenshots/lyr-transfer-screenshots" "$shots"
fi
QT_QPA_PLATFORM=offscreen LYR_SYSFS_ROOT="$work/sys" XDG_CONFIG_HOME="$work/config" \
  "$build/src/app/lyr-screenshots" "$shots" "$pid"
