#!/usr/bin/env bash
# The playback engine on a served stand-in: a 10-minute 48 kHz stereo
# 192 kbit/s Layer II recording (made by twolame) played through the null
# back end in real time. Prints the time from play to the first block the
# device takes, the time of seeks inside and outside the held data, and the
# CPU share of one core while playing (targets: under 150 ms, under 20 ms,
# under 2 %).
# Usage: bench/playback/run.sh [BUILD_DIR] [SECONDS_OF_PLAY]
set -euo pipefail
build=$(realpath "${1:-build}")
seconds=${2:-60}
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
"$ours" "$mnt/disk" 1 "$seconds"
