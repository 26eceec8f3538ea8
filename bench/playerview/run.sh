#!/usr/bin/env bash
# The player view's two figures, offscreen against the in-process stand-in:
# - scrolling a 10,000-recording play list from top to bottom: link
#   exchanges per screenful against the rows in view plus five;
# - a LONG-minute Layer II recording (twolame) played while its waveform
#   builds: the longest GUI event-loop stall (target under 16 ms), the least
#   the player buffer held after the first second (0 would mean playback ran
#   dry), and the build time against `mpg123 -q -s` decoding the same bytes
#   (ratio mpg123 / build; 1.0 or more: the overview costs no more than
#   decoding). The build shares the link with playback, so bench/wave gives
#   the builder's figure alone.
# Usage: bench/playerview/run.sh [BUILD_DIR]   (COUNT=10000 MINUTES=60 by default)
set -euo pipefail
build=$(realpath "${1:-build}")
count=${COUNT:-10000}
minutes=${MINUTES:-60}
bench="$build/bench/playerview/bench_player_view"
[ -x "$bench" ] || { echo "missing $bench (build with Qt first)" >&2; exit 1; }
export QT_QPA_PLATFORM=offscreen

echo "-- play list of $count recordings, scrolled a screenful at a time"
"$bench" scroll "$count"

echo "-- $minutes-minute Layer II recording played while its waveform builds"
dir=$(mktemp -d "${TMPDIR:-/tmp}/lyr-playerview-bench-XXXXXX")
trap 'rm -rf "$dir"' EXIT
seconds=$((minutes * 60))
sox -n -r 48000 -c 2 -b 16 "$dir/signal.wav" synth "$seconds" sine 60-9000 sine 90-14000 synth "$seconds" \
  pinknoise mix tremolo 0.5 40 vol 0.4 2>/dev/null
twolame --quiet -b 192 -m j "$dir/signal.wav" "$dir/input.mp2"
rm -f "$dir/signal.wav"
# The builder runs at idle priority: the writeback of the files made and
# removed above (and of the scroll's 10,000-recording store) would take its
# time first. Let the disk settle before timing.
sync
sleep 1
read -r took stall least played underruns < <("$bench" wave "$dir/input.mp2" 48000 192 2)
t0=$(date +%s.%N)
mpg123 -q -s "$dir/input.mp2" >/dev/null
t1=$(date +%s.%N)
peer=$(echo "$t1 - $t0" | bc -l)
printf 'build during playback %.2f s, mpg123 %.2f s, ratio %.2f (target >= 1.0)\n' "$took" "$peer" \
  "$(echo "$peer / $took" | bc -l)"
printf 'longest GUI stall %d ms (target < 16), least buffered after 200 ms %d bytes, played %.1f s meanwhile, underruns %d (target 0)\n' \
  "$stall" "$least" "$played" "$underruns"
bench_row "waveform build during playback, $minutes min (1 run)" "$(printf %.2f "$took") s" \
  "mpg123 -s $(printf %.2f "$peer") s" "$(printf %.2f "$(echo "$peer / $took" | bc -l)")" ">= 1.0"
