#!/usr/bin/env bash
# Waveform build of a long Layer II recording: lyr-wave-bench (the builder
# reading the recording through the link from an in-process stand-in and
# decoding it) against `mpg123 -q -s` decoding the same bytes to /dev/null,
# interleaved in one run. The builder's worker runs at idle priority (it must
# not take time from playback), so mpg123 runs at idle priority too (chrt
# --idle). Prints the median times and the ratio (mpg123 time / build time;
# 1.0 or more means the whole overview costs no more than decoding the
# recording).
# Usage: bench/wave/run.sh [BUILD_DIR] [MINUTES] [RUNS]   (60 minutes for the hour-long case)
set -euo pipefail
build=${1:-build}
minutes=${2:-10}
runs=${3:-5}
ours="$build/bench/wave/lyr-wave-bench"
[ -x "$ours" ] || { echo "missing $ours (build first)" >&2; exit 1; }
for tool in sox twolame mpg123 chrt; do
  command -v "$tool" > /dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 1; }
done

dir=$(mktemp -d "${TMPDIR:-/tmp}/lyr-wave-bench-XXXXXX")
trap 'rm -rf "$dir"' EXIT
seconds=$((minutes * 60))
sox -n -r 48000 -c 2 -b 16 "$dir/signal.wav" synth "$seconds" sine 60-9000 sine 90-14000 synth "$seconds" \
  pinknoise mix tremolo 0.5 40 vol 0.4 2> /dev/null
twolame --quiet -b 192 -m j "$dir/signal.wav" "$dir/input.mp2"
rm -f "$dir/signal.wav"

python3 - "$ours" "$dir/input.mp2" "$runs" "$seconds" <<'PY'
import os, statistics, subprocess, sys, time
ours, mp2, runs, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
build, peer = [], []
with open(os.devnull, "wb") as null:
    for r in range(runs + 1):
        took = float(subprocess.run([ours, mp2, "48000", "192", "2"], capture_output=True, check=True, text=True).stdout)
        start = time.perf_counter()
        subprocess.run(["chrt", "--idle", "0", "mpg123", "-q", "-s", mp2], stdout=null, check=True)
        end = time.perf_counter()
        if r > 0:  # the first round only warms the caches
            build.append(took)
            peer.append(end - start)
b, p = statistics.median(build), statistics.median(peer)
print(f"waveform build   median {b:7.3f} s  ({seconds / b:5.0f}x real time)")
print(f"mpg123 -s (idle) median {p:7.3f} s  ({seconds / p:5.0f}x real time)")
print(f"ratio (mpg123 time / our time): {p / b:.2f}  (target >= 1.0)")
PY
