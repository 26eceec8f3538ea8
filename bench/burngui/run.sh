#!/usr/bin/env bash
# The Copy/Burn panel's GUI thread during a burn: the six demo recordings of
# a served stand-in burnt as an audio CD and as a data disc to the stand-in
# disc writer, offscreen, with a 5 ms timer on the GUI thread. Prints the
# longest gap between its ticks (target: under 16 ms).
# Usage: bench/burngui/run.sh [BUILD_DIR]
set -euo pipefail
build=$(realpath "${1:-build}")
here=$(cd "$(dirname "$0")" && pwd)
ours="$build/bench/burngui/lyr-burngui-bench"
[ -x "$ours" ] || { echo "missing $ours (build first)" >&2; exit 1; }
command -v genisoimage > /dev/null || { echo "missing genisoimage (scripts/install-deps.sh)" >&2; exit 1; }
. "$here/../common.sh"

"$build/tools/lyr-emu/lyr-emu" init "$work/store" --demo > /dev/null
serve "$build"
mkdir -p "$work/writer" "$work/temp"
echo "0,0,0 'HL-DT-ST' 'DVDRAM GH22NS50' 0x1FFF 0x1FEE" > "$work/writer/drives.txt"
for run in 1 2 3; do
  printf 'kind=CD-RW\nblank=1\nfree=359849\ntrack_delay_ms=100\n' > "$work/writer/disc-0,0,0.txt"
  # A CD-RW: the data disc's check erases what the audio CD left.
  QT_QPA_PLATFORM=offscreen TMPDIR="$work/temp" LYR_CDRECORD="$build/tools/lyr-burn-emu/bin/cdrecord" \
    LYR_MKISOFS="$(command -v genisoimage)" LYR_BURN_EMU_STATE="$work/writer" LYR_SYSFS_ROOT="$work" \
    "$ours" "$mnt/disk" 2>/dev/null | sed "s/^/run $run: /"
done
