#!/usr/bin/env bash
# lyr-manager end to end under a window manager on a virtual X display, as a
# user meets it: started with no recorder it shows its window with the empty
# state; with the stand-in plugged in, two recordings ticked by playing them
# and another highlighted, Delete (Ctrl+X) asks about the highlighted one by
# name and names the ticked ones it leaves alone; on FILE TYPE a prefix and
# an extension typed without their "OK" reach the recorder with Apply; after
# File > Safely Remove the status says so and lyrctl opens the recorder and
# finds what the window did; a replug connects again. Exit 77 is a skip (no
# FUSE, xvfb-run, xdotool or openbox here); in CI (CI=true) those fail.
set -uo pipefail
build=$(realpath "$1")
emu="$build/tools/lyr-emu/lyr-emu"
ctl="$build/tools/lyrctl/lyrctl"
manager="$build/src/app/lyr-manager"

script_args=("$@")
gui_tools=(openbox)
source "$(dirname "$0")/gui_e2e_support.sh"
rerun_in_xvfb

work=$(mktemp -d "${TMPDIR:-/tmp}/lyr-gui-safety-XXXXXX")
trap cleanup EXIT
click_at() { xdotool mousemove --sync "${1%,*}" "${1#*,}" click "${2:-1}"; }

openbox >/dev/null 2>&1 &
wm_pid=$!
sleep 0.5

"$emu" init "$work/store" --demo >/dev/null || fail "lyr-emu init"
mkdir -p "$work/mnt" "$work/sys/block" "$work/run" "$work/config" "$work/bin"
# From a folder of its own: its cfgfile.ini stays out of the build.
cp "$manager" "$work/bin/lyr-manager"
manager="$work/bin/lyr-manager"
chmod 700 "$work/run"
LYR_TRACE=1 LYR_SYSFS_ROOT="$work/sys" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config" LYR_AUDIO=null \
  "$manager" >"$work/mgr.log" 2>&1 &
mgr_pid=$!

# No recorder: the window stays, with its empty state.
wait_for 'pane "No LYR found"' 1
sleep 1
window=$(timeout 10 xdotool search --sync --onlyvisible --name '^TORVI LYR$' | head -1)
[ -n "$window" ] || fail "no visible window when started without a recorder"
grep -qF 'frame: hidden in the tray' "$work/mgr.log" && fail "the window was put away"
grep -qF 'frame: minimised' "$work/mgr.log" && fail "the window was minimised"

# The recorder is plugged in.
"$emu" serve "$work/store" "$work/mnt" --sysfs "$work/sys" >"$work/serve.log" 2>&1 &
emu_pid=$!
wait_for 'pane "LYR Connected"' 1
wait_for ' rows, the first at ' 1
read -r rows row_x row_y row_h < <(grep -oE '[0-9]+ rows, the first at [0-9]+,[0-9]+, [0-9]+ high' "$work/mgr.log" |
  tail -1 | sed -E 's/([0-9]+) rows, the first at ([0-9]+),([0-9]+), ([0-9]+) high/\1 \2 \3 \4/')
[ "$rows" -ge 4 ] || fail "the demo recorder has $rows recordings"
row() { echo "$row_x,$((row_y + $1 * row_h))"; }
name() { printf 'LYR%04d' "$(($1 + 1))"; }
target=$((rows - 1))

# Ticks: the second and third recordings are played (a double click ticks).
xdotool windowactivate --sync "$window" 2>/dev/null
for r in 1 2; do
  xdotool mousemove --sync "${row_x}" "$((row_y + r * row_h))" click --repeat 2 --delay 60 1
  wait_for 'player: start of' "$r"
done
# The last one highlighted: Delete asks about it alone, by name.
click_at "$(row "$target")"
sleep 0.2
xdotool key ctrl+x
wait_for 'transfer: asked "Are you sure to delete all files selected?"' 1
asked=$(grep -A3 -F 'transfer: asked "Are you sure' "$work/mgr.log" | tr '\n' ' ')
case "$asked" in *"1 recording: $(name "$target")."*) ;; *) fail "the question does not name $(name "$target"): $asked" ;; esac
case "$asked" in *"left alone: $(name 1), $(name 2)."*) ;; *) fail "the ticked ones are not named: $asked" ;; esac
sleep 0.5
xdotool key y
for _ in $(seq 100); do xdotool search --onlyvisible --name '^Files Processing$' >/dev/null 2>&1 || break; sleep 0.1; done

# FILE TYPE: prefix and extension typed, no "OK", then Apply.
xdotool windowactivate --sync "$window" 2>/dev/null
xdotool key alt+v
sleep 0.5
xdotool key Return  # the first item, active when a menu opens from the keyboard
wait_for 'settings: FILE TYPE fields at' 1
read -r name_at ext_at apply_at < <(grep -oE 'FILE TYPE fields at [0-9]+,[0-9]+ and [0-9]+,[0-9]+, Apply at [0-9]+,[0-9]+' \
  "$work/mgr.log" | tail -1 | sed -E 's/.* at ([0-9,]+) and ([0-9,]+), Apply at ([0-9,]+)/\1 \2 \3/')
click_at "$name_at"
xdotool key ctrl+a type ABCD
click_at "$ext_at"
xdotool key ctrl+a type BWF
click_at "$apply_at"
sleep 1

# File > Safely Remove (the third item, after Update and Setting).
xdotool windowactivate --sync "$window" 2>/dev/null
xdotool key alt+f
sleep 0.5
xdotool key Down Down Return
wait_for 'frame: command fileSafelyRemove' 1
wait_for 'pane "LYR released' 1
import -window root "$work/released.png" 2>/dev/null

# The recorder is let go: lyrctl opens it and sees what the window did.
info=$("$ctl" --device "$work/mnt/disk" --json info 2>&1) || fail "lyrctl info after Safely Remove: $info"
echo "$info" | grep -qE '"file_name_prefix": *"ABCD"' || fail "the typed prefix did not reach the recorder: $info"
echo "$info" | grep -qE '"file_extension": *"BWF"' || fail "the typed extension did not reach the recorder: $info"
list=$("$ctl" --device "$work/mnt/disk" list 2>&1) || fail "lyrctl list: $list"
echo "$list" | grep -qF "$(name "$target")" && fail "$(name "$target") was not deleted"
for r in 1 2; do echo "$list" | grep -qF "$(name "$r")" || fail "the ticked $(name "$r") was deleted"; done

# Unplugged and plugged in again: connected again.
kill -USR1 "$emu_pid"
wait_for 'pane "No LYR found"' 2
kill -USR2 "$emu_pid"
wait_for 'pane "LYR Connected"' 2

# Closing the window while a recording plays stops the sound.
timeout 10 xdotool search --sync --onlyvisible --name '^TORVI LYR$' >/dev/null || fail "the window did not come back"
wait_for ' rows, the first at ' 2
read -r row_x row_y < <(grep -oE 'the first at [0-9]+,[0-9]+' "$work/mgr.log" | tail -1 | sed -E 's/the first at ([0-9]+),([0-9]+)/\1 \2/')
# Under load a double click may arrive as two single clicks: try again.
started=0
for _ in 1 2 3; do
  xdotool windowactivate --sync "$window" 2>/dev/null
  xdotool mousemove --sync "$row_x" "$row_y" click --repeat 2 --delay 60 1
  for _ in $(seq 100); do
    [ "$(grep -cF 'player: start of' "$work/mgr.log")" -ge 3 ] && { started=1; break; }
    sleep 0.05
  done
  [ "$started" = 1 ] && break
done
[ "$started" = 1 ] || fail "no 'player: start of' (#3) after three double clicks"
stops=$(grep -cF 'player: stopped' "$work/mgr.log")
xdotool key alt+F4
wait_for 'player: stopped' $((stops + 1))

stop_manager
echo "PASS"
