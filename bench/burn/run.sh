#!/usr/bin/env bash
# The audio CD job's speed and memory:
# 1. the sample-rate converters (lyr-resample: libsoxr, the default, and the
#    windowed sinc) against `sox ... rate 44100` on 10 minutes of 48 kHz
#    stereo, raw in and out;
# 2. preparing the CD track of a 60-minute 48 kHz Layer II recording from a
#    served stand-in (lyr-cd-tracks: download, decode, convert, write the
#    WAVE file) against `lyrctl export --mpeg-format raw` of the same
#    recording followed by `mpg123 -s | sox ... rate 44100` into a WAVE file;
# 3. the peak memory of the track preparation for 10 and 60 minutes.
# Prints median times and the ratios (peer time / our time; above 1.0 means
# ours is faster).
# Usage: bench/burn/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=$(realpath "${1:-build}")
runs=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
for tool in sox twolame mpg123; do
  command -v "$tool" > /dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 1; }
done
source "$here/../common.sh"

# Music-like material, as the decoder benchmark uses.
signal() {  # signal SECONDS OUT.wav
  sox -n -r 48000 -c 2 -b 16 "$2" synth "$1" sine 60-9000 sine 90-14000 synth "$1" pinknoise mix \
    tremolo 0.5 40 vol 0.4 2> /dev/null
}

signal 600 "$work/ten.wav"
sox "$work/ten.wav" -t raw "$work/ten.raw"
twolame --quiet -b 192 -m j "$work/ten.wav" "$work/ten.mp2"
rm -f "$work/ten.wav"
signal 3600 "$work/hour.wav"
twolame --quiet -b 192 -m j "$work/hour.wav" "$work/hour.mp2"
rm -f "$work/hour.wav"
"$build/tools/lyr-emu/lyr-emu" init "$work/store" > /dev/null
"$build/tools/lyr-emu/lyr-emu" add "$work/store" "$work/hour.mp2" --name HOUR > /dev/null
"$build/tools/lyr-emu/lyr-emu" add "$work/store" "$work/ten.mp2" --name TEN > /dev/null
rm -f "$work/hour.mp2" "$work/ten.mp2"
serve "$build"
mkdir -p "$work/ours" "$work/peer"

python3 - "$build" "$work" "$runs" <<'PY'
import os, resource, statistics, subprocess, sys, time

def row(*cells):
    if os.environ.get("LYR_BENCH_TABLE"):
        with open(os.environ["LYR_BENCH_TABLE"], "a") as table:
            table.write("\t".join(cells) + "\n")
build, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
disk = f"{work}/mnt/disk"
raw = f"{work}/ten.raw"
fmt = "-t raw -e signed -b 16 -c 2"

def timed(cmd, shell=False):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(cmd, shell=shell, check=True, stdout=subprocess.DEVNULL)
    end = time.perf_counter()
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return end - start, after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime

def compare(title, tools, goal=">= 1.0"):
    wall = {k: [] for k in tools}
    cpu = {k: [] for k in tools}
    for r in range(runs + 1):
        for name, (cmd, shell) in tools.items():
            w, c = timed(cmd, shell)
            if r > 0:
                wall[name].append(w)
                cpu[name].append(c)
    print(title)
    for name in tools:
        print(f"  {name:40s} median wall {statistics.median(wall[name]):7.3f} s  cpu {statistics.median(cpu[name]):7.3f} s")
    names = list(tools)
    rw = statistics.median(wall[names[1]]) / statistics.median(wall[names[0]])
    rc = statistics.median(cpu[names[1]]) / statistics.median(cpu[names[0]])
    print(f"  ratio (peer time / our time): {rw:.2f} wall, {rc:.2f} cpu")
    for what, r, m in (("wall", rw, wall), ("cpu", rc, cpu)):
        row(f"{title}, {what} ({runs} runs)", f"{statistics.median(m[names[0]]):.3f} s",
            f"{names[1]} {statistics.median(m[names[1]]):.3f} s", f"{r:.2f}", goal)

compare("converter (libsoxr, the default), 10 min 48 kHz stereo to 44.1 kHz", {
    "lyr-resample": ([f"{build}/bench/burn/lyr-resample", "48000", raw], False),
    "sox rate 44100": (f"sox -D {fmt} -r 48000 {raw} {fmt} -r 44100 - rate 44100", True),
})
compare("converter (windowed sinc, the option), 10 min 48 kHz stereo to 44.1 kHz", goal="(option)", tools={
    "lyr-resample sinc": ([f"{build}/bench/burn/lyr-resample", "48000", raw, "sinc"], False),
    "sox rate 44100": (f"sox -D {fmt} -r 48000 {raw} {fmt} -r 44100 - rate 44100", True),
})
compare("CD track of a 60-min 48 kHz Layer II recording from the served stand-in", {
    "lyr-cd-tracks (the audio CD job)": ([f"{build}/bench/burn/lyr-cd-tracks", disk, f"{work}/ours", "1"], False),
    "lyrctl export + mpg123 | sox": (
        f"{build}/tools/lyrctl/lyrctl --device {disk} export --quiet --yes --mpeg-format raw --to {work}/peer 1"
        f" && mpg123 -q -s {work}/peer/HOUR.mp2 | sox -D {fmt} -r 48000 - -t wav -r 44100 {work}/peer/HOUR.wav rate 44100",
        True),
})

def peak(entry):
    out = subprocess.run(["/usr/bin/time", "-f", "%M", f"{build}/bench/burn/lyr-cd-tracks", disk, f"{work}/ours", entry],
                         check=True, stderr=subprocess.PIPE, text=True).stderr.strip().splitlines()[-1]
    return int(out)
print(f"peak memory of the track preparation: 10 min {peak('2') / 1024:.1f} MiB, 60 min {peak('1') / 1024:.1f} MiB")
ours = os.path.getsize(f"{work}/ours/track1.wav")
peer = os.path.getsize(f"{work}/peer/HOUR.wav")
print(f"track sizes: ours {ours} bytes, peer {peer} bytes")
PY
