#!/usr/bin/env bash
# Runs every benchmark against its peer tool, then prints one table of every
# ratio with its peer and its goal. Ratios are peer time / our time (above
# 1.0: ours is faster) unless the row says otherwise; every time is of whole
# processes unless the row says what was left out. The machines are shared:
# each script reports medians of several runs, and the load is printed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-build}")
LYR_BENCH_TABLE=$(mktemp "${TMPDIR:-/tmp}/lyr-bench-table-XXXXXX")
export LYR_BENCH_TABLE
trap 'rm -f "$LYR_BENCH_TABLE"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for script in link/run.sh export/run.sh copygui/run.sh playerview/run.sh sha1/compare.sh decoder/run.sh burn/run.sh burngui/run.sh firmware/run.sh ingest/run.sh startup/run.sh playback/run.sh wave/run.sh; do
  printf '\n== bench/%s   (load average %s)\n' "$script" "$(cut -d' ' -f1-3 /proc/loadavg)"
  "$root/bench/$script" "$build"
done

printf '\n== summary (load average before %s, after %s; %d cores)\n' "$load_before" \
  "$(cut -d' ' -f1-3 /proc/loadavg)" "$(nproc)"
python3 - "$LYR_BENCH_TABLE" <<'PY'
import sys
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1]) if line.strip()]
head = ["work", "ours", "peer", "ratio", "goal"]
width = [max(len(r[i]) for r in rows + [head]) for i in range(5)]
for r in [head, ["-" * w for w in width]] + rows:
    print("  ".join(c.ljust(w) for c, w in zip(r, width)).rstrip())
PY
