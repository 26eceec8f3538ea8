#!/usr/bin/env bash
# lyr-manager's start-up, whole process, with the demo stand-in plugged in
# (published in a private sysfs tree): time from the process start to the
# main window shown and to the recorder shown connected, and the longest
# event-loop stall the GUI thread had while the connection ran (the program's
# own LYR_TRACE figure). Median of ROUNDS (5) runs, on a virtual X display
# when xvfb-run is there, else offscreen.
set -euo pipefail
build=$(realpath "${1:-build}")
rounds=${ROUNDS:-5}
source "$(dirname "$0")/../common.sh"

"$build/tools/lyr-emu/lyr-emu" init "$work/store" --demo >/dev/null
mkdir -p "$mnt" "$work/sys" "$work/run"
chmod 700 "$work/run"
"$build/tools/lyr-emu/lyr-emu" serve "$work/store" "$mnt" --sysfs "$work/sys" >"$work/serve.log" 2>&1 &
serve_pid=$!
for _ in $(seq 100); do [ -f "$mnt/disk" ] && break; sleep 0.05; done

driver=(python3 "$(dirname "$0")/startup.py" "$build/src/app/lyr-manager" "$work" "$rounds")
if command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1280x800x24" "${driver[@]}"
else
  QT_QPA_PLATFORM=offscreen "${driver[@]}"
fi
