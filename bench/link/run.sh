#!/usr/bin/env bash
# Bulk reads of recording data from the FUSE-served stand-in: our link's
# 64 KiB ReadRecordingData pieces against dd iflag=direct bs=64k reading the
# very same bytes from the same mount. Prints medians and the ratio, and as a
# yardstick the floor: the same two transfers per piece (command block, then
# data) as bare pwrite/pread calls, what the exchange costs on this machine
# before any link code runs.
set -euo pipefail
build=$(realpath "${1:-build}")
size_mib=${SIZE_MIB:-256}
rounds=${ROUNDS:-5}
source "$(dirname "$0")/../common.sh"

add_recording "$build" "$size_mib" BIG0001
serve "$build"

ours=()
floor=()
theirs=()
timed() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
for _ in $(seq "$rounds"); do
  ours+=("$(timed "$build/bench/link/bench_link_read" "$mnt/disk" 1)")
  floor+=("$(timed "$build/bench/link/bench_link_read" "$mnt/disk" 1 --floor)")

  read -r offset bytes < <("$build/bench/link/bench_link_read" "$mnt/disk" 1 --prime)
  theirs+=("$(timed dd if="$mnt/disk" of=/dev/null iflag=direct,skip_bytes bs=64k skip="$offset" \
                      count=$((bytes / 65536)) status=none)")
done

m_ours=$(median "${ours[@]}")
m_floor=$(median "${floor[@]}")
m_dd=$(median "${theirs[@]}")
printf 'recording data, %d MiB, median of %d runs (whole processes)\n' "$size_mib" "$rounds"
printf '  lyr link, 64 KiB ReadRecordingData: %8.1f MiB/s (%.3f s)\n' "$(echo "$size_mib / $m_ours" | bc -l)" "$m_ours"
printf '  floor, bare pwrite 512 + pread 64k: %8.1f MiB/s (%.3f s)\n' "$(echo "$size_mib / $m_floor" | bc -l)" "$m_floor"
printf '  dd iflag=direct bs=64k:             %8.1f MiB/s (%.3f s)\n' "$(echo "$size_mib / $m_dd" | bc -l)" "$m_dd"
printf '  ratio (link / dd): %.2f\n' "$(echo "$m_dd / $m_ours" | bc -l)"
printf '  ratio (floor / dd): %.2f   ratio (link / floor): %.2f\n' \
  "$(echo "$m_dd / $m_floor" | bc -l)" "$(echo "$m_floor / $m_ours" | bc -l)"
