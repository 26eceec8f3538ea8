#!/usr/bin/env bash
# Layer II decoding speed: lyr-mp2-decode (the player's decoder) against
# `mpg123 -q -s` on the same 10-minute 48 kHz stereo 192 kbit/s file made by
# twolame, both as whole processes writing to /dev/null, interleaved in one
# run. Prints the median times and the speed ratio (mpg123 time / our time;
# above 1.0 means ours is faster).
# Usage: bench/decoder/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-9}
ours="$build/bench/decoder/lyr-mp2-decode"
[ -x "$ours" ] || { echo "missing $ours (build first)" >&2; exit 1; }
for tool in sox twolame mpg123; do
  command -v "$tool" > /dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 1; }
done

dir=$(mktemp -d "${TMPDIR:-/tmp}/lyr-decoder-bench-XXXXXX")
trap 'rm -rf "$dir"' EXIT
# Music-like material: two crossing sweeps, a little noise, a slow tremolo.
sox -n -r 48000 -c 2 -b 16 "$dir/signal.wav" synth 600 sine 60-9000 sine 90-14000 synth 600 pinknoise mix \
  tremolo 0.5 40 vol 0.4 2> /dev/null
twolame --quiet -b 192 -m j "$dir/signal.wav" "$dir/input.mp2"
rm -f "$dir/signal.wav"

# Both decoders must give the same amount of audio.
ours_bytes=$("$ours" "$dir/input.mp2" | wc -c)
peer_bytes=$(mpg123 -q -s "$dir/input.mp2" | wc -c)
if [ "$ours_bytes" != "$peer_bytes" ]; then
  echo "output sizes differ: ours $ours_bytes, mpg123 $peer_bytes" >&2
  exit 1
fi

# Interleaved runs so that a noisy neighbour hits both alike; the first
# round only warms the caches.
declare -A times
for ((r = 0; r < runs + 1; r++)); do
  for tool in lyr mpg123; do
    case $tool in
      lyr) cmd=("$ours" "$dir/input.mp2") ;;
      mpg123) cmd=(mpg123 -q -s "$dir/input.mp2") ;;
    esac
    start=$(date +%s%N)
    "${cmd[@]}" > /dev/null
    end=$(date +%s%N)
    [ "$r" -gt 0 ] && times[$tool]+="$(((end - start) / 1000)) "
  done
done

python3 - "${times[lyr]}" "${times[mpg123]}" <<'PY'
import statistics, sys
lyr, peer = ([int(x) for x in a.split()] for a in sys.argv[1:3])
ours, mpg = statistics.median(lyr) / 1e6, statistics.median(peer) / 1e6
print(f"lyr-mp2-decode median {ours:6.3f} s  ({600 / ours:6.0f}x real time)")
print(f"mpg123 -s      median {mpg:6.3f} s  ({600 / mpg:6.0f}x real time)")
print(f"speed ratio (mpg123 time / our time): {mpg / ours:.2f}")
PY
