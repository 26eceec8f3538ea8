# Shared by the benchmark scripts: a work folder cleaned up on exit, a large
# 16-bit PCM WAVE file of random data, a served stand-in, and medians.
work=$(mktemp -d)
mnt="$work/mnt"
serve_pid=""
cleanup() {
  if [ -n "$serve_pid" ]; then kill -INT "$serve_pid" 2>/dev/null || true; wait "$serve_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# make_wav PATH MIB
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

# add_recording BUILD MIB NAME: a recording of MIB MiB in the store at $work/store
add_recording() {
  [ -d "$work/store" ] || "$1/tools/lyr-emu/lyr-emu" init "$work/store" >/dev/null
  make_wav "$work/rec.wav" "$2"
  "$1/tools/lyr-emu/lyr-emu" add "$work/store" "$work/rec.wav" --name "$3" >/dev/null
  rm -f "$work/rec.wav"
}

# serve BUILD: serves $work/store as $mnt/disk
serve() {
  mkdir -p "$mnt"
  "$1/tools/lyr-emu/lyr-emu" serve "$work/store" "$mnt" >"$work/serve.log" 2>&1 &
  serve_pid=$!
  for _ in $(seq 100); do [ -f "$mnt/disk" ] && return 0; sleep 0.05; done
  cat "$work/serve.log" >&2
  return 1
}

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# Every timed copy starts with no earlier copy's dirty pages waiting to be
# written back, so that none of them pays for another's write-back.
fresh_out() {
  rm -f "$work/out/"*
  sync
}

# Seconds since $t0.
since() { echo "$(date +%s.%N) - $t0" | bc -l; }

# bench_row WORK OURS PEER RATIO GOAL: one line of the summary table
# scripts/bench.sh prints at the end (when it runs the script).
bench_row() {
  [ -n "${LYR_BENCH_TABLE:-}" ] || return 0
  printf '%s\t%s\t%s\t%s\t%s\n' "$@" >> "$LYR_BENCH_TABLE"
}
