#!/usr/bin/env bash
# SHA-1 of a 256 MiB and a 1 GiB file: lyr-sha1sum (the copy job's digest
# routine) against sha1sum and openssl sha1, interleaved on the same file,
# page cache warm. Every figure is the whole process (start to exit). Prints
# the median times, the speed ratios (peer time / our time; above 1.0 means
# ours is faster) and how many read calls each tool makes.
# Usage: bench/sha1/compare.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-7}
ours="$build/bench/sha1/lyr-sha1sum"
[ -x "$ours" ] || { echo "missing $ours (build first)" >&2; exit 1; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/lyr-sha1-bench-XXXXXX")
trap 'rm -rf "$dir"' EXIT

for mib in 256 1024; do
  file="$dir/input.bin"
  head -c $((mib * 1024 * 1024)) /dev/urandom > "$file"

  want=$(sha1sum "$file" | cut -d' ' -f1)
  got=$("$ours" "$file" | cut -d' ' -f1)
  ssl=$(openssl sha1 -r "$file" | cut -d' ' -f1)
  if [ "$want" != "$got" ] || [ "$want" != "$ssl" ]; then
    echo "digests differ: sha1sum $want, lyr $got, openssl $ssl" >&2
    exit 1
  fi

  # Interleaved runs so that a noisy neighbour hits every tool alike.
  declare -A times=()
  for ((r = 0; r < runs + 1; r++)); do
    for tool in lyr sha1sum openssl; do
      case $tool in
        lyr) cmd=("$ours" "$file") ;;
        sha1sum) cmd=(sha1sum "$file") ;;
        openssl) cmd=(openssl sha1 "$file") ;;
      esac
      start=$(date +%s%N)
      "${cmd[@]}" > /dev/null
      end=$(date +%s%N)
      # The first round only warms the page cache.
      [ "$r" -gt 0 ] && times[$tool]+="$(((end - start) / 1000)) "
    done
  done

  reads=""
  if command -v strace > /dev/null; then
    for cmd in "$ours" "openssl sha1"; do
      n=$(strace -f -c -e trace=read $cmd "$file" 2>&1 > /dev/null | awk '$NF == "read" {print $4}')
      reads+="${cmd##*/}: ${n:-?} read calls; "
    done
  fi

  python3 - "$mib" "$runs" "${times[lyr]}" "${times[sha1sum]}" "${times[openssl]}" "$reads" <<'PY'
import os, statistics, sys

def row(*cells):
    if os.environ.get("LYR_BENCH_TABLE"):
        with open(os.environ["LYR_BENCH_TABLE"], "a") as table:
            table.write("\t".join(cells) + "\n")
mib, runs = int(sys.argv[1]), int(sys.argv[2])
lyr, sha1sum, openssl = ([int(x) for x in a.split()] for a in sys.argv[3:6])
m = {k: statistics.median(v) / 1e6 for k, v in (("lyr-sha1sum", lyr), ("sha1sum", sha1sum), ("openssl sha1", openssl))}
print(f"SHA-1 of {mib} MiB, whole process, median of {runs} runs:")
for k, v in m.items():
    print(f"  {k:14s} median {v:7.3f} s  ({mib / v:7.1f} MiB/s)")
print(f"  ratio vs sha1sum:      {m['sha1sum'] / m['lyr-sha1sum']:.2f}")
print(f"  ratio vs openssl sha1: {m['openssl sha1'] / m['lyr-sha1sum']:.2f}  (goal >= 1.00)")
row(f"SHA-1 {mib} MiB ({runs} runs)", f"{m['lyr-sha1sum']:.3f} s", f"openssl sha1 {m['openssl sha1']:.3f} s",
    f"{m['openssl sha1'] / m['lyr-sha1sum']:.2f}", ">= 1.0")
if sys.argv[6]:
    print(f"  {sys.argv[6].rstrip('; ')}")
PY
  rm -f "$file"
done
