#!/usr/bin/env bash
# The playback engine on a served stand-in: a 10-minute 48 kHz stereo
# 192 kbit/s Layer II recording (made by twolame) played through the null
# back end in real time. Prints the time from play to the first block the
# device takes, the time of seeks inside and outside the held data, and the
# CPU share of one core while playing, whole process and per thread, with the
# underruns (targets: under 150 ms, under 20 ms, at most 0.35 % and none).
# Usage: bench/playback/run.sh [BUILD_DIR] [SECONDS_OF_PLAY]
set -euo pipefail
build=$(realpath "${1:-build}")
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
ours="$build/bench/playback/lyr-play-bench"
[ -x "$ours" ] || { echo "missing $ours (build first)" >&2; exit 1; }
for tool in sox twolame; do
  command -v "$tool" > /dev/null || { echo "missing $tool (scripts/install-deps.sh)" >&2; exit 1; }
done
. "$here/../common.sh"

sox -n -r 48000 -c 2 -b 16 "$work/signal.wav" synth 600 sine 60-9000 sine 90-14000 synth 600 pinknoise mix \
  tremolo 0.5 40 vol 0.4 2> /dev/null
twolame --quiet -b 192 -m j "$work/signal.wav" "$work/long.mp2"
rm -f "$work/signal.wav"
"$build/tools/lyr-emu/lyr-emu" init "$work/store" > /dev/null
"$build/tools/lyr-emu/lyr-emu" add "$work/store" "$work/long.mp2" --name LONG0001 > /dev/null
serve "$build"
"$ours" "$mnt/disk" 1 "$seconds" | tee "$work/play.txt"
share=$(sed -n 's/.* = \([0-9.]*\) % of one core.*/\1/p' "$work/play.txt")
underruns=$(sed -n 's/.*underruns (late refills) \([0-9]*\).*/\1/p' "$work/play.txt")
# The peer: mpg123 decoding the same stream to a pipe that is read at the
# stream's own pace (192,000 bytes a second), for the same seconds.
peer=$(python3 - "$work/long.mp2" "$seconds" <<'PY'
import resource, subprocess, sys, time
mp2, seconds = sys.argv[1], float(sys.argv[2])
before = resource.getrusage(resource.RUSAGE_CHILDREN)
p = subprocess.Popen(["mpg123", "-q", "-s", mp2], stdout=subprocess.PIPE)
start = time.monotonic()
read = 0
while time.monotonic() - start < seconds:
    due = (time.monotonic() - start) * 192000
    while read < due:
        chunk = p.stdout.read(min(4608 * 4, int(due - read) + 4608))
        if not chunk:
            break
        read += len(chunk)
    time.sleep(0.02)
wall = time.monotonic() - start
p.kill()
p.wait()
after = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
print(f"{100 * cpu / wall:.3f}")
PY
)
printf 'mpg123 -s read at real time for %s s: %s %% of one core\n' "$seconds" "$peer"
bench_row "playback CPU, $seconds s in real time, whole process (underruns $underruns)" "$share %" \
  "mpg123 paced at real time $peer %" "$(echo "$peer / $share" | bc -l | xargs printf %.2f)" "<= 0.35 %, no underrun"
