#!/usr/bin/env bash
# A 2 MiB firmware update and its read-back through the FUSE-served stand-in:
# the maintenance layer's update (pieces, status, read-back, comparison,
# release) against its floor, the same transfers as bare pwrite/pread calls.
# Prints medians and the ratio floor / ours (1.0 = no cost above the floor).
set -euo pipefail
build=$(realpath "${1:-build}")
rounds=${ROUNDS:-7}
source "$(dirname "$0")/../common.sh"

"$build/tools/lyr-emu/lyr-emu" init "$work/store" >/dev/null
"$build/tools/lyr-emu/lyr-emu" pack-update "$work/fw.coe" --sample 2097144 >/dev/null
serve "$build"

ours=()
floor=()
for _ in $(seq "$rounds"); do
  ours+=("$("$build/bench/firmware/bench_firmware_update" "$mnt/disk" "$work/fw.coe" 2>/dev/null)")
  floor+=("$("$build/bench/firmware/bench_firmware_update" "$mnt/disk" "$work/fw.coe" --floor 2>/dev/null)")
done
m_ours=$(median "${ours[@]}")
m_floor=$(median "${floor[@]}")
printf 'firmware update of 2 MiB (2,097,144 image bytes) and read-back, median of %d runs\n' "$rounds"
printf '  maintenance layer:                   %.3f s\n' "$m_ours"
printf '  floor, bare pwrite/pread per piece:  %.3f s\n' "$m_floor"
printf '  ratio (floor / ours): %.2f   (target 0.8 or better)\n' "$(echo "$m_floor / $m_ours" | bc -l)"
bench_row "firmware update 2 MiB + read-back ($rounds runs; ratio floor / ours)" "$(printf %.3f "$m_ours") s" \
  "bare pwrite/pread floor $(printf %.3f "$m_floor") s" "$(printf %.2f "$(echo "$m_floor / $m_ours" | bc -l)")" ">= 0.8"
