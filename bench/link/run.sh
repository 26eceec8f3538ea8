#!/usr/bin/env bash
# Bulk reads of recording data from the FUSE-served stand-in: our link's
# 64 KiB ReadRecordingData pieces against dd iflag=direct bs=64k reading the
# very same bytes from the same mount. Prints medians and the ratio, and as a
# yardstick the floor: the same two transfers per piece (command block, then
# data) as bare pwrite/pread calls, what the exchange costs on this machine
# before any link code runs. Then the same reads with every piece written to
# a file as an export writes it, against dd writing the same bytes to a file.
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
ours_file=()
dd_file=()
mkdir -p "$work/out"
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

  fresh_out
  ours_file+=("$(timed "$build/bench/link/bench_link_read" "$mnt/disk" 1 --to "$work/out/link.raw")")
  read -r offset bytes < <("$build/bench/link/bench_link_read" "$mnt/disk" 1 --prime)
  fresh_out
  dd_file+=("$(timed dd if="$mnt/disk" of="$work/out/dd.raw" iflag=direct,skip_bytes bs=64k skip="$offset" \
                      count=$((bytes / 65536)) status=none)")
done
fresh_out

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
m_ours_file=$(median "${ours_file[@]}")
m_dd_file=$(median "${dd_file[@]}")
printf '  written to a file:\n'
printf '  lyr link + export writer:           %8.1f MiB/s (%.3f s)\n' "$(echo "$size_mib / $m_ours_file" | bc -l)" "$m_ours_file"
printf '  dd iflag=direct bs=64k of=FILE:     %8.1f MiB/s (%.3f s)\n' "$(echo "$size_mib / $m_dd_file" | bc -l)" "$m_dd_file"
printf '  ratio (link to a file / dd to a file): %.2f\n' "$(echo "$m_dd_file / $m_ours_file" | bc -l)"
bench_row "link read, $size_mib MiB ($rounds runs)" "$(printf %.3f "$m_ours") s" "dd iflag=direct $(printf %.3f "$m_dd") s" \
  "$(printf %.2f "$(echo "$m_dd / $m_ours" | bc -l)")" ">= 1.0"
bench_row "link read to a file, $size_mib MiB" "$(printf %.3f "$m_ours_file") s" "dd to a file $(printf %.3f "$m_dd_file") s" \
  "$(printf %.2f "$(echo "$m_dd_file / $m_ours_file" | bc -l)")" ">= 1.0"
