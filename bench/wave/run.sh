#!/usr/bin/env bash
# Waveform build of a long Layer II recording: lyr-wave-bench (the builder
# reading the recording through the link from an in-process stand-in and
# decoding it) against `mpg123 -q -s` decoding the same bytes to /dev/null,
# interleaved, both at normal priority and then both at idle priority (chrt
# --idle; the builder's worker runs at idle priority in lyr-manager, where it
# must not take time from playback). Prints the median whole-process times
# and the ratios (mpg123 time / build time; 1.0 or more means the whole
# overview costs no more than decoding the recording).
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

def row(*cells):
    if os.environ.get("LYR_BENCH_TABLE"):
        with open(os.environ["LYR_BENCH_TABLE"], "a") as table:
            table.write("\t".join(cells) + "\n")

def timed(cmd, out):
    start = time.perf_counter()
    done = subprocess.run(cmd, stdout=out, check=True, text=out == subprocess.PIPE)
    return time.perf_counter() - start, done.stdout

# At normal priority: the builder with every thread back at normal priority
# (--normal), mpg123 as it is. At idle priority: the builder as lyr-manager
# runs it (its worker idle) in a process started at idle priority, mpg123 at
# idle priority too. Whole processes (the builder's own figure, which leaves
# out making the in-process stand-in, is printed beside it).
idle = ["chrt", "--idle", "0"]
cases = {
    "normal": ([ours, mp2, "48000", "192", "2", "--normal"], ["mpg123", "-q", "-s", mp2]),
    "idle": (idle + [ours, mp2, "48000", "192", "2"], idle + ["mpg123", "-q", "-s", mp2]),
}
with open(os.devnull, "wb") as null:
    for name, (build_cmd, peer_cmd) in cases.items():
        whole, inner, peer = [], [], []
        for r in range(runs + 1):
            w, out = timed(build_cmd, subprocess.PIPE)
            p, _ = timed(peer_cmd, null)
            if r > 0:  # the first round only warms the caches
                whole.append(w)
                inner.append(float(out))
                peer.append(p)
        b, i, p = statistics.median(whole), statistics.median(inner), statistics.median(peer)
        print(f"{name} priority, median of {runs} runs:")
        print(f"  waveform build   {b:7.3f} s whole process ({seconds / b:5.0f}x real time); build alone {i:.3f} s")
        print(f"  mpg123 -q -s     {p:7.3f} s whole process ({seconds / p:5.0f}x real time)")
        print(f"  ratio (mpg123 time / our time): {p / b:.2f}  (target >= 1.0)")
        row(f"waveform build {seconds // 60} min, {name} priority ({runs} runs)", f"{b:.3f} s",
            f"mpg123 -q -s {p:.3f} s", f"{p / b:.2f}", ">= 1.0")
PY
