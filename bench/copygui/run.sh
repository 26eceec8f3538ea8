#!/usr/bin/env bash
# Copy of N recordings through the FUSE-served stand-in: the copy command
# behind its "Files Processing" dialog (offscreen, bench_copy_gui) against
# lyrctl export of the same recordings (plain WAVE both), and the longest
# stall of the GUI thread during the dialog's copy (5 ms timer; < 16 ms).
set -euo pipefail
build=$(realpath "${1:-build}")
count=${COUNT:-4}
size_mib=${SIZE_MIB:-64}
rounds=${ROUNDS:-5}
source "$(dirname "$0")/../common.sh"
ctl="$build/tools/lyrctl/lyrctl"
gui="$build/bench/copygui/bench_copy_gui"

for i in $(seq "$count"); do add_recording "$build" "$size_mib" "REC000$i"; done
serve "$build"
mkdir -p "$work/out"

ours=()
stalls=()
theirs=()
for _ in $(seq "$rounds"); do
  fresh_out
  read -r seconds stall < <("$gui" "$mnt/disk" "$work/out")
  ours+=("$seconds")
  stalls+=("$stall")
  fresh_out
  t0=$(date +%s.%N)
  "$ctl" --device "$mnt/disk" export --quiet --yes --pcm-format wav --to "$work/out" --all >/dev/null
  # Whole process; the dialog's figure starts after the connection, so the
  # comparison takes lyrctl's fixed 1 s settle off too (printed both ways).
  theirs+=("$(since)")
done
[ -n "${BENCH_VERBOSE:-}" ] && echo "dialog ${ours[*]}; stalls ${stalls[*]}; lyrctl ${theirs[*]}" >&2
m_ours=$(median "${ours[@]}")
m_whole=$(median "${theirs[@]}")
m_theirs=$(echo "$m_whole - 1.0" | bc -l)
worst=$(printf '%s\n' "${stalls[@]}" | sort -g | tail -1)
total=$((count * size_mib))
printf 'copy of %d recordings of %d MiB, median of %d runs\n' "$count" "$size_mib" "$rounds"
printf '  copy command + Files Processing dialog: %8.1f MiB/s (%.3f s)\n' "$(echo "$total / $m_ours" | bc -l)" "$m_ours"
printf '  lyrctl export --all:                    %8.1f MiB/s (%.3f s whole process, %.3f s less the 1 s settle)\n' \
  "$(echo "$total / $m_theirs" | bc -l)" "$m_whole" "$m_theirs"
printf '  ratio (lyrctl / dialog): %.2f (target >= 0.95; both without the connection)\n' "$(echo "$m_theirs / $m_ours" | bc -l)"
bench_row "copy dialog, $count x $size_mib MiB ($rounds runs; both less the connection)" "$(printf %.3f "$m_ours") s" \
  "lyrctl export --all $(printf %.3f "$m_theirs") s" "$(printf %.2f "$(echo "$m_theirs / $m_ours" | bc -l)")" ">= 0.95"
printf '  longest GUI stall: %.1f ms over %d runs (target < 16 ms)\n' "$worst" "$rounds"
