#!/usr/bin/env bash
# Runs every benchmark against its peer tool and prints the ratios. The
# machines are shared: each script reports medians of several runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-build}")
for script in link/run.sh export/run.sh copygui/run.sh playerview/run.sh sha1/compare.sh decoder/run.sh burn/run.sh burngui/run.sh firmware/run.sh ingest/run.sh startup/run.sh; do
  printf '\n== bench/%s\n' "$script"
  "$root/bench/$script" "$build"
done
printf '\n== bench/%s\n' playback/run.sh
"$root/bench/playback/run.sh" "$build"
printf '\n== bench/%s\n' wave/run.sh
"$root/bench/wave/run.sh" "$build"
