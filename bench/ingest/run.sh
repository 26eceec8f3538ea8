#!/usr/bin/env bash
# lyrctl ingest of the demo recorder (with one large recording added) against
# lyrctl export --all --sha1 of the same recordings, through the FUSE-served
# stand-in: ingest without the verify pass, and with --delete-after-verify
# (a second read of every recording, then its delete). Each run starts from
# the same store (ingest and export mark recordings copied; the verify pass
# deletes them). Whole-process medians; each run pays the connection's 1 s
# settle alike.
set -euo pipefail
build=$(realpath "${1:-build}")
size_mib=${SIZE_MIB:-64}
rounds=${ROUNDS:-5}
source "$(dirname "$0")/../common.sh"
ctl="$build/tools/lyrctl/lyrctl"

"$build/tools/lyr-emu/lyr-emu" init "$work/store" --demo >/dev/null
add_recording "$build" "$size_mib" BIG0001
mv "$work/store" "$work/pristine"

fresh() {
  if [ -n "$serve_pid" ]; then kill -INT "$serve_pid"; wait "$serve_pid" || true; serve_pid=""; fi
  rm -rf "$work/store" "$work/out"
  cp -a "$work/pristine" "$work/store"
  mkdir -p "$work/out"
  sync
  serve "$build"
}
timed() {
  local t0
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  echo "$(date +%s.%N) - $t0" | bc -l
}

export_t=()
ingest_t=()
verify_t=()
for _ in $(seq "$rounds"); do
  fresh
  export_t+=("$(timed "$ctl" --device "$mnt/disk" export --quiet --yes --sha1 --all --to "$work/out")")
  fresh
  ingest_t+=("$(timed "$ctl" --device "$mnt/disk" ingest --quiet --sha1 --to "$work/out")")
  fresh
  verify_t+=("$(timed "$ctl" --device "$mnt/disk" ingest --quiet --sha1 --delete-after-verify --to "$work/out")")
done
m_export=$(median "${export_t[@]}")
m_ingest=$(median "${ingest_t[@]}")
m_verify=$(median "${verify_t[@]}")
printf 'demo recorder + %d MiB recording, median of %d runs (whole processes; each pays the same 1 s settle)\n' "$size_mib" "$rounds"
printf '  lyrctl export --all --sha1:                 %.3f s\n' "$m_export"
printf '  lyrctl ingest --sha1:                       %.3f s   ratio (export / ingest): %.2f\n' \
  "$m_ingest" "$(echo "$m_export / $m_ingest" | bc -l)"
printf '  lyrctl ingest --sha1 --delete-after-verify: %.3f s   ratio (export / ingest): %.2f\n' \
  "$m_verify" "$(echo "$m_export / $m_verify" | bc -l)"
printf '  cost of the second read and the deletes:    %.3f s (%.0f%% of the ingest)\n' \
  "$(echo "$m_verify - $m_ingest" | bc -l)" "$(echo "100 * ($m_verify - $m_ingest) / $m_ingest" | bc -l)"
bench_row "ingest --sha1 vs export --all --sha1, $size_mib MiB ($rounds runs)" "$(printf %.3f "$m_ingest") s" \
  "lyrctl export --sha1 $(printf %.3f "$m_export") s" "$(printf %.2f "$(echo "$m_export / $m_ingest" | bc -l)")" ">= 1.0"
