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
# The Copy/Burn panel burns to the stand-in disc writer: one writer with a
# blank CD-R that takes its time per track (the "Burning" dialog mid-job).
mkdir -p "$work/writer"
echo "0,0,0 'HL-DT-ST' 'DVDRAM GH22NS50' 0x1FFF 0x1FEE" >"$work/writer/drives.txt"
printf 'kind=CD-R\nblank=1\nfree=359849\ntrack_delay_ms=1500\n' >"$work/writer/disc-0,0,0.txt"
if [ -x "$build/tools/transfer-screenshots/lyr-transfer-screenshots" ]; then
  QT_QPA_PLATFORM=offscreen "$build/tools/transfer-screenshots/lyr-transfer-screenshots" "$shots"
fi
QT_QPA_PLATFORM=offscreen LYR_SYSFS_ROOT="$work/sys" XDG_CONFIG_HOME="$work/config" \
  LYR_CDRECORD="$build/tools/lyr-burn-emu/bin/cdrecord" LYR_BURN_EMU_STATE="$work/writer" \
  "$build/src/app/lyr-screenshots" "$shots" "$pid"
