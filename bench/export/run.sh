#!/usr/bin/env bash
# Export of one recording through the FUSE-served stand-in (lyrctl export,
# plain WAVE) against dd iflag=direct bs=64k copying the same bytes from the
# same mount to a file, and the export's peak memory for a small and a large
# recording. As a yardstick it also times the floor of the exchange: the same
# two transfers per 64 KiB piece as bare pwrite/pread calls, each piece
# written to a file as dd does (see bench/link/run.sh).
set -euo pipefail
build=$(realpath "${1:-build}")
size_mib=${SIZE_MIB:-256}
small_mib=${SMALL_MIB:-16}
rounds=${ROUNDS:-5}
source "$(dirname "$0")/../common.sh"
ctl="$build/tools/lyrctl/lyrctl"

add_recording "$build" "$size_mib" BIG0001
add_recording "$build" "$small_mib" SMALL001
serve "$build"
mkdir -p "$work/out"


ours=()
floor=()
theirs=()
# The whole process, which includes the connection sequence's fixed 1 s
# settle after asking the recorder for access; dd pays no such wait, so the
# ratio is of whole processes and the figure without the settle is printed
# beside it.
run_export() {
  fresh_out
  t0=$(date +%s.%N)
  "$ctl" --device "$mnt/disk" export --quiet --yes --pcm-format wav --to "$work/out" 1 >/dev/null
  ours+=("$(since)")
}
run_floor() {
  fresh_out
  t0=$(date +%s.%N)
  "$build/bench/link/bench_link_read" "$mnt/disk" 1 --floor "$work/out/floor.raw" >/dev/null
  floor+=("$(since)")
}
run_dd() {
  local offset bytes
  read -r offset bytes < <("$build/bench/link/bench_link_read" "$mnt/disk" 1 --prime)
  fresh_out
  t0=$(date +%s.%N)
  dd if="$mnt/disk" of="$work/out/dd.raw" iflag=direct,skip_bytes bs=64k skip="$offset" \
     count=$((bytes / 65536)) status=none
  theirs+=("$(since)")
}
# On a virtual machine here (ext4 mounted with discard), the first large
# write after an export took up to a second longer, whoever made it; a
# throwaway write after each export keeps that off the next contender.
absorb() {
  fresh_out
  dd if=/dev/zero of="$work/out/scratch" bs=1M count="$size_mib" status=none
  fresh_out
}
for _ in $(seq "$rounds"); do
  run_floor
  run_dd
  run_export
  absorb
done

# BENCH_VERBOSE=1 prints every timing.
[ -n "${BENCH_VERBOSE:-}" ] && echo "export ${ours[*]}; floor ${floor[*]}; dd ${theirs[*]}" >&2
m_ours=$(median "${ours[@]}")
m_floor=$(median "${floor[@]}")
m_dd=$(median "${theirs[@]}")
printf 'export of a %d MiB recording, median of %d runs\n' "$size_mib" "$rounds"
m_work=$(echo "$m_ours - 1.0" | bc -l)
printf '  lyrctl export (plain WAVE):       %8.1f MiB/s (%.3f s, whole process)\n' \
  "$(echo "$size_mib / $m_ours" | bc -l)" "$m_ours"
printf '  the same less the 1 s settle:     %8.1f MiB/s (%.3f s)\n' "$(echo "$size_mib / $m_work" | bc -l)" "$m_work"
printf '  dd iflag=direct bs=64k to a file: %8.1f MiB/s (%.3f s)\n' "$(echo "$size_mib / $m_dd" | bc -l)" "$m_dd"
printf '  floor, pwrite 512 + pread 64k, to a file: %6.1f MiB/s (%.3f s)\n' \
  "$(echo "$size_mib / $m_floor" | bc -l)" "$m_floor"
printf '  ratio (export / dd): %.2f whole process, %.2f less the settle   ratio (floor / dd): %.2f\n' \
  "$(echo "$m_dd / $m_ours" | bc -l)" "$(echo "$m_dd / $m_work" | bc -l)" "$(echo "$m_dd / $m_floor" | bc -l)"
bench_row "export $size_mib MiB, whole process ($rounds runs)" "$(printf %.3f "$m_ours") s" \
  "dd to a file $(printf %.3f "$m_dd") s" "$(printf %.2f "$(echo "$m_dd / $m_ours" | bc -l)")" ">= 1.0"
bench_row "export $size_mib MiB, less the 1 s settle" "$(printf %.3f "$m_work") s" \
  "dd to a file $(printf %.3f "$m_dd") s" "$(printf %.2f "$(echo "$m_dd / $m_work" | bc -l)")" ">= 1.0"

peak() {
  fresh_out
  /usr/bin/time -f '%M' "$ctl" --device "$mnt/disk" export --quiet --yes --sha1 --to "$work/out" "$1" \
    2>&1 >/dev/null | tail -1
}
printf 'peak memory of lyrctl export --sha1: %d MiB recording %s KiB, %d MiB recording %s KiB\n' \
  "$small_mib" "$(peak 2)" "$size_mib" "$(peak 1)"
