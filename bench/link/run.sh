#!/usr/bin/env bash
# Bulk reads of recording data from the FUSE-served stand-in: our link's
# 64 KiB ReadRecordingData pieces against dd iflag=direct bs=64k reading the
# very same bytes from the same mount. Prints medians and the ratio.
set -euo pipefail
build=$(realpath "${1:-build}")
size_mib=${SIZE_MIB:-256}
rounds=${ROUNDS:-5}
work=$(mktemp -d)
mnt="$work/mnt"
pid=""
cleanup() {
  [ -n "$pid" ] && kill -INT "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

python3 - "$work/big.wav" "$size_mib" <<'PY'
import os, struct, sys
path, mib = sys.argv[1], int(sys.argv[2])
n = mib * 1048576
with open(path, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", n + 36) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 2, 48000, 192000, 4, 16))
    f.write(b"data" + struct.pack("<I", n))
    block = os.urandom(1048576)
    for _ in range(mib):
        f.write(block)
PY
"$build/tools/lyr-emu/lyr-emu" init "$work/store" >/dev/null
"$build/tools/lyr-emu/lyr-emu" add "$work/store" "$work/big.wav" --name BIG0001 >/dev/null
rm -f "$work/big.wav"
mkdir -p "$mnt"
"$build/tools/lyr-emu/lyr-emu" serve "$work/store" "$mnt" >"$work/serve.log" 2>&1 &
pid=$!
for _ in $(seq 100); do [ -f "$mnt/disk" ] && break; sleep 0.05; done

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

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
m_ours=$(median "${ours[@]}")
m_dd=$(median "${theirs[@]}")
mib_ours=$(echo "$size_mib / $m_ours" | bc -l)
mib_dd=$(echo "$size_mib / $m_dd" | bc -l)
printf 'recording data, %d MiB, median of %d runs (whole processes)\n' "$size_mib" "$rounds"
printf '  lyr link, 64 KiB ReadRecordingData: %8.1f MiB/s (%.3f s)\n' "$mib_ours" "$m_ours"
printf '  dd iflag=direct bs=64k:             %8.1f MiB/s (%.3f s)\n' "$mib_dd" "$m_dd"
printf '  ratio (link / dd): %.2f\n' "$(echo "$m_dd / $m_ours" | bc -l)"
