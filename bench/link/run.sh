#!/usr/bin/env bash
# Bulk reads of recording data from the FUSE-served stand-in: our link's
# 64 KiB ReadRecordingData pieces against dd iflag=direct bs=64k reading the
# very same bytes from the same mount. Prints medians and the ratio.
set -euo pipefail
build=$(realpath "${1:-build}")
size_mib=${SIZE_MIB:-256}
rounds=${ROUNDS:-5}
source "$(dirname "$0")/../common.sh"

add_recording "$build" "$size_mib" BIG0001
serve "$build"

ours=()
theirs=()
for _ in $(seq "$rounds"); do
  t0=$(date +%s.%N)
  "$build/bench/link/bench_link_read" "$mnt/disk" 1 >/dev/null
  t1=$(date +%s.%N)
  ours+=("$(echo "$t1 - $t0" | bc -l)")

  read -r offset bytes < <("$build/bench/link/bench_link_read" "$mnt/disk" 1 --prime)
  t0=$(date +%s.%N)
  dd if="$mnt/disk" of=/dev/null iflag=direct,skip_bytes bs=64k skip="$offset" count=$((bytes / 65536)) status=none
  t1=$(date +%s.%N)
  theirs+=("$(echo "$t1 - $t0" | bc -l)")
done

m_ours=$(median "${ours[@]}")
m_dd=$(median "${theirs[@]}")
printf 'recording data, %d MiB, median of %d runs (whole processes)\n' "$size_mib" "$rounds"
printf '  lyr link, 64 KiB ReadRecordingData: %8.1f MiB/s (%.3f s)\n' "$(echo "$size_mib / $m_ours" | bc -l)" "$m_ours"
printf '  dd iflag=direct bs=64k:             %8.1f MiB/s (%.3f s)\n' "$(echo "$size_mib / $m_dd" | bc -l)" "$m_dd"
printf '  ratio (link / dd): %.2f\n' "$(echo "$m_dd / $m_ours" | bc -l)"
