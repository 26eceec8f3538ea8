#!/usr/bin/env bash
# Export of one recording through the FUSE-served stand-in (lyrctl export,
# plain WAVE) against dd iflag=direct bs=64k reading the same bytes from the
# same mount, and the export's peak memory for a small and a large recording.
set -euo pipefail
build=$(realpath "${1:-build}")
size_mib=${SIZE_MIB:-256}
small_mib=${SMALL_MIB:-16}
rounds=${ROUNDS:-5}
work=$(mktemp -d)
mnt="$work/mnt"
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill -INT "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

make_wav() {
  python3 - "$1" "$2" <<'PY'
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
}

emu="$build/tools/lyr-emu/lyr-emu"
ctl="$build/tools/lyrctl/lyrctl"
"$emu" init "$work/store" >/dev/null
make_wav "$work/big.wav" "$size_mib"
"$emu" add "$work/store" "$work/big.wav" --name BIG0001 >/dev/null
rm -f "$work/big.wav"
make_wav "$work/small.wav" "$small_mib"
"$emu" add "$work/store" "$work/small.wav" --name SMALL001 >/dev/null
rm -f "$work/small.wav"
mkdir -p "$mnt" "$work/out"
"$emu" serve "$work/store" "$mnt" >"$work/serve.log" 2>&1 &
pid=$!
for _ in $(seq 100); do [ -f "$mnt/disk" ] && break; sleep 0.05; done

# Time of the copy job alone, as lyrctl reports it through its own clock:
# the connection sequence's settle time (1 s) is not export work.
export_seconds() {
  rm -f "$work/out/"*
  local t0 t1
  t0=$(date +%s.%N)
  "$ctl" --device "$mnt/disk" export --quiet --yes --pcm-format wav --to "$work/out" 1 >/dev/null
  t1=$(date +%s.%N)
  echo "$t1 - $t0 - 1.0" | bc -l
}

ours=()
theirs=()
for _ in $(seq "$rounds"); do
  ours+=("$(export_seconds)")
  read -r offset bytes < <("$build/bench/link/bench_link_read" "$mnt/disk" 1 --prime)
  t0=$(date +%s.%N)
  dd if="$mnt/disk" of="$work/out/dd.raw" iflag=direct,skip_bytes bs=64k skip="$offset" \
     count=$((bytes / 65536)) status=none
  t1=$(date +%s.%N)
  theirs+=("$(echo "$t1 - $t0" | bc -l)")
done

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
m_ours=$(median "${ours[@]}")
m_dd=$(median "${theirs[@]}")
printf 'export of a %d MiB recording, median of %d runs\n' "$size_mib" "$rounds"
printf '  lyrctl export (plain WAVE):  %8.1f MiB/s (%.3f s, connection settle excluded)\n' \
  "$(echo "$size_mib / $m_ours" | bc -l)" "$m_ours"
printf '  dd iflag=direct bs=64k to a file:%8.1f MiB/s (%.3f s)\n' "$(echo "$size_mib / $m_dd" | bc -l)" "$m_dd"
printf '  ratio (export / dd): %.2f\n' "$(echo "$m_dd / $m_ours" | bc -l)"

peak() {
  rm -f "$work/out/"*
  /usr/bin/time -f '%M' "$ctl" --device "$mnt/disk" export --quiet --yes --sha1 --to "$work/out" "$1" \
    2>&1 >/dev/null | tail -1
}
printf 'peak memory of lyrctl export --sha1: %d MiB recording %s KiB, %d MiB recording %s KiB\n' \
  "$small_mib" "$(peak 2)" "$size_mib" "$(peak 1)"
