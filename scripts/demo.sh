#!/usr/bin/env bash
# The demo: a stand-in LYR recorder with demo recordings (PCM and MPEG-1
# Layer II, mono and stereo, 32/44.1/48 kHz), served as a raw disk through
# FUSE, and what lyrctl reads from it.
set -euo pipefail
build=$(realpath "${1:-build}")
emu="$build/tools/lyr-emu/lyr-emu"
ctl="$build/tools/lyrctl/lyrctl"
work=$(mktemp -d "${TMPDIR:-/tmp}/lyr-demo-XXXXXX")
mnt="$work/mnt"
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill -INT "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

if [ ! -w /dev/fuse ]; then
  echo "demo: /dev/fuse is not usable here, so the stand-in recorder cannot be served" >&2
  exit 1
fi

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "lyr-emu init $work/store --demo"
"$emu" init "$work/store" --demo

step "lyr-emu serve $work/store $mnt"
mkdir -p "$mnt"
"$emu" serve "$work/store" "$mnt" >"$work/serve.log" 2>&1 &
pid=$!
for _ in $(seq 100); do [ -f "$mnt/disk" ] && break; sleep 0.05; done
[ -f "$mnt/disk" ] || { cat "$work/serve.log" >&2; exit 1; }
cat "$work/serve.log"

step "lyrctl --device $mnt/disk info"
"$ctl" --device "$mnt/disk" info

if "$ctl" --help | grep -q '^  list'; then
  step "lyrctl --device $mnt/disk list"
  "$ctl" --device "$mnt/disk" list
fi
if "$ctl" --help | grep -q '^  export'; then
  step "lyrctl --device $mnt/disk export --all --sha1 --to $work/export"
  "$ctl" --device "$mnt/disk" export --all --sha1 --yes --to "$work/export"
  ls -l "$work/export"
  step "sha1sum agrees with every digest file"
  (cd "$work/export" && for t in *.txt; do printf '%s  %s\n' "$(cat "$t")" "$(ls "${t%.txt}".wav "${t%.txt}".mp2 2>/dev/null)"; done | sha1sum -c)
fi

step "stopping the stand-in"
kill -INT "$pid"
wait "$pid" || true
pid=""
cat "$work/serve.log"
