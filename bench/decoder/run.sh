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
# round only warms the caches. Wall time and CPU time (user + system) per run;
# on a shared machine the CPU-time ratio is the steadier figure.
python3 - "$ours" "$dir/input.mp2" "$runs" <<'PY'
import os, resource, statistics, subprocess, sys, time

def row(*cells):
    if os.environ.get("LYR_BENCH_TABLE"):
        with open(os.environ["LYR_BENCH_TABLE"], "a") as table:
            table.write("\t".join(cells) + "\n")
ours, mp2, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
tools = {"lyr-mp2-decode": [ours, mp2], "mpg123 -s": ["mpg123", "-q", "-s", mp2]}
wall = {k: [] for k in tools}
cpu = {k: [] for k in tools}
with open(os.devnull, "wb") as null:
    for r in range(runs + 1):
        for name, cmd in tools.items():
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            subprocess.run(cmd, stdout=null, check=True)
            end = time.perf_counter()
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            if r > 0:
                wall[name].append(end - start)
                cpu[name].append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
for name in tools:
    w, c = statistics.median(wall[name]), statistics.median(cpu[name])
    print(f"{name:15s} median wall {w:6.3f} s  cpu {c:6.3f} s  ({600 / w:5.0f}x real time)")
ratio_wall = statistics.median(wall["mpg123 -s"]) / statistics.median(wall["lyr-mp2-decode"])
ratio_cpu = statistics.median(cpu["mpg123 -s"]) / statistics.median(cpu["lyr-mp2-decode"])
print(f"speed ratio (mpg123 time / our time): {ratio_wall:.2f} wall, {ratio_cpu:.2f} cpu")
row(f"Layer II decode 600 s 48 kHz stereo, wall ({runs} runs)", f"{statistics.median(wall['lyr-mp2-decode']):.3f} s",
    f"mpg123 -q -s {statistics.median(wall['mpg123 -s']):.3f} s", f"{ratio_wall:.2f}", ">= 2.0")
row("Layer II decode, the same in CPU time", f"{statistics.median(cpu['lyr-mp2-decode']):.3f} s",
    f"mpg123 -q -s {statistics.median(cpu['mpg123 -s']):.3f} s", f"{ratio_cpu:.2f}", ">= 2.0")
PY
