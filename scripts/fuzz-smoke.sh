#!/usr/bin/env bash
# Builds every libFuzzer target with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded number of inputs,
# starting from its seed corpus (fuzz/<name>/corpus) when it has one. New
# inputs go to a temporary directory; the committed corpus is left alone.
# Exits non-zero when a target crashes or a sanitizer reports. The seed is
# fixed so that a run is repeatable; FUZZ_SEED picks another.
# Usage: scripts/fuzz-smoke.sh [BUILD_DIR] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-fuzz}
# The targets run from a scratch folder: the build folder must be absolute.
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
runs=${2:-20000}
jobs=$(nproc)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DLYR_BUILD_FUZZ=ON -DLYR_BUILD_TOOLS=OFF -DLYR_BUILD_BENCH=OFF -DBUILD_TESTING=OFF -DLYR_WERROR=ON > /dev/null
# Only the fuzz targets: the programs are not built with the fuzzer's runtime.
targets=$(sed -n 's/^ *lyr_add_fuzzer(\([A-Za-z0-9_]*\).*/\1/p' "$root"/fuzz/*/CMakeLists.txt)
# shellcheck disable=SC2086
cmake --build "$build" -j "$jobs" --target $targets

work=$(mktemp -d "${TMPDIR:-/tmp}/lyr-fuzz-XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
count=0
for dir in "$root"/fuzz/*/; do
  name=$(basename "$dir")
  [ -f "$dir/CMakeLists.txt" ] || continue
  for target in $(sed -n 's/^ *lyr_add_fuzzer(\([A-Za-z0-9_]*\).*/\1/p' "$dir/CMakeLists.txt"); do
    exe="$build/fuzz/$name/$target"
    [ -x "$exe" ] || { echo "missing $exe" >&2; status=1; continue; }
    corpus=()
    [ -d "$dir/corpus" ] && corpus=("$dir/corpus")
    mkdir -p "$work/$target"
    echo "== $target: $runs runs"
    if ! (cd "$work" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
          "$exe" -seed="${FUZZ_SEED:-1}" -runs="$runs" -max_len=8192 -timeout=10 -print_final_stats=0 "$work/$target" "${corpus[@]}" \
          > "$work/$target.log" 2>&1); then
      tail -n 40 "$work/$target.log"
      echo "== $target FAILED"
      status=1
    else
      grep -E "^#[0-9]+ *DONE|Done [0-9]+ runs" "$work/$target.log" | tail -n 1 || true
    fi
    count=$((count + 1))
  done
done
echo "$count fuzz targets run"
exit $status
