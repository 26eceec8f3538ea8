#!/usr/bin/env bash
# lyr-manager end to end on a virtual X display: the stand-in recorder is
# served and published as a USB disk in a private sysfs tree; the program
# connects, plays the first recording on a double click (through SDL's disk
# audio driver: the position advances, the waveform is drawn, sound is
# written), follows an unplug (SIGUSR1 to lyr-emu) and a plug (SIGUSR2), and
# ends cleanly on SIGTERM. On the way View > Copy / Burn shows the Copy/Burn
# panel, whose drive combo has the stand-in disc writer's drive from the
# start and is scanned again when an optical drive arrives (a new sr* block
# device in the private sysfs tree). From the play list, the first two
# recordings then go to a data disc ("Data CD", Ctrl+B, Burn, Start) and an
# audio CD ("Audio CD") through the stand-in disc writer, and to a folder
# with their digests ("HDD", "Output SHA1", Ctrl+C); what the writer received
# and the files are checked against lyrctl on the same recordings. Exit 77 is a skip (no FUSE or no xvfb-run here);
# in CI (CI=true) those are failures instead.
set -uo pipefail
build=$(realpath "$1")
emu="$build/tools/lyr-emu/lyr-emu"
manager="$build/src/app/lyr-manager"

script_args=("$@")
gui_tools=()
source "$(dirname "$0")/gui_e2e_support.sh"
rerun_in_xvfb

work=$(mktemp -d "${TMPDIR:-/tmp}/lyr-gui-e2e-XXXXXX")
trap cleanup EXIT

"$emu" init "$work/store" --demo >/dev/null || fail "lyr-emu init"
mkdir -p "$work/mnt" "$work/sys" "$work/run" "$work/config" "$work/writer"
chmod 700 "$work/run"
echo "0,0,0 'HL-DT-ST' 'DVDRAM GH22NS50' 0x1FFF 0x1FEE" >"$work/writer/drives.txt"
"$emu" serve "$work/store" "$work/mnt" --sysfs "$work/sys" >"$work/serve.log" 2>&1 &
emu_pid=$!
for _ in $(seq 200); do [ -f "$work/mnt/disk" ] && break; sleep 0.05; done
[ -f "$work/mnt/disk" ] || fail "the stand-in did not serve"

# The program runs from a folder of its own: its cfgfile.ini (beside it)
# starts the HDD page in the copy folder and stays out of the build.
mkdir -p "$work/sys/block" "$work/bin" "$work/out"
cp "$manager" "$work/bin/lyr-manager"
printf '[common]\nCopy_Path=%s\n' "$work/out" >"$work/bin/cfgfile.ini"
manager="$work/bin/lyr-manager"
LYR_TRACE=1 LYR_SYSFS_ROOT="$work/sys" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config" \
  LYR_CDRECORD="$build/tools/lyr-burn-emu/bin/cdrecord" LYR_BURN_EMU_STATE="$work/writer" \
  LYR_AUDIO=sdl SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/audio.raw" \
  "$manager" >"$work/mgr.log" 2>&1 &
mgr_pid=$!

wait_for 'pane "LYR Connected"' 1
window=$(timeout 10 xdotool search --sync --onlyvisible --name '^TORVI LYR$' | head -1)
[ -n "$window" ] || fail "no visible window titled TORVI LYR"

# Playing: a double click on the first recording of the play list.
wait_for 'player: ' 1
wait_for ' rows, the first at ' 1
at=$(grep -oE 'the first at [0-9]+,[0-9]+' "$work/mgr.log" | tail -1 | sed -E 's/the first at //')
xdotool mousemove --sync "${at%,*}" "${at#*,}" click --repeat 2 --delay 60 1
wait_for 'player: start of' 1
grep -qE 'player: start of [0-9A-F]+ gave 0' "$work/mgr.log" || fail "the first recording did not play"
wait_for 'player: at 2 of' 1
# The waveform's blue envelope is on the screen, and sound was written.
blue=0
for _ in $(seq 40); do
  import -window root "$work/playing.png" 2>/dev/null
  blue=$(convert "$work/playing.png" -fill black +opaque 'rgb(0,0,200)' -fill white -opaque 'rgb(0,0,200)' \
    -format '%[fx:int(mean*w*h)]' info: 2>/dev/null || echo 0)
  [ "${blue:-0}" -gt 5000 ] && break
  sleep 0.25
done
[ "${blue:-0}" -gt 5000 ] || fail "no waveform drawn ($blue blue pixels)"
[ -s "$work/audio.raw" ] || fail "nothing was played"
[ "$(tr -d '\000' <"$work/audio.raw" | wc -c)" -gt 10000 ] || fail "only silence was played"
# Space in the list pauses.
xdotool key space
wait_for 'player: paused' 1

# The Copy/Burn panel: View > Copy / Burn (the menu's last entry).
wait_for 'burn: 1 writers' 1
xdotool search --onlyvisible --name '^Copy/Burn panel$' >/dev/null 2>&1 && fail "the panel shows before Copy / Burn"
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
xdotool key --window "$window" alt+v
sleep 0.3
xdotool key Up Return
wait_for 'frame: command viewCopyBurn' 1
timeout 10 xdotool search --sync --onlyvisible --name '^Copy/Burn panel$' >/dev/null || fail "no visible Copy/Burn panel"
# A second writer and an optical drive arriving: the drives are scanned again.
echo "1,0,0 'PLEXTOR' 'DVDR PX-891SA' 0x1FFF 0x1FEE" >>"$work/writer/drives.txt"
mkdir -p "$work/sys/block/sr0"
wait_for 'burn: 2 writers' 1

# Where the panel's tabs and buttons are: the newest trace of its page.
panel=$(xdotool search --onlyvisible --name '^Copy/Burn panel$' | head -1)
panel_at() {
  grep -F 'burn: page "' "$work/mgr.log" | tail -1 | grep -oE "$1 at [0-9]+,[0-9]+" | sed -E 's/.* at //'
}
click_at() { xdotool mousemove --sync "${1%,*}" "${1#*,}" click 1; }
# The play list's first two rows selected (with no window manager, the
# window clicked is raised first; keys go to the window under the pointer).
select_two() {
  xdotool windowraise "$window"
  sleep 0.2
  xdotool mousemove --sync "$row_x" "$row_y" click 1
  xdotool mousemove --sync "$row_x" "$((row_y + row_h))" keydown ctrl click 1 keyup ctrl
  sleep 0.2
}
# Burns what the page shown holds: Burn, "Start" in "Burning", the
# success box, "Finish".
burn_page() {
  local count=$1
  xdotool windowraise "$panel"
  sleep 0.3
  click_at "$(panel_at burnButton)"
  wait_for 'burn: Burning shown' "$count"
  local button
  button=$(grep -oE 'Burning shown, its button at [0-9]+,[0-9]+' "$work/mgr.log" | tail -1 | sed -E 's/.* at //')
  click_at "$button"  # Start
  wait_for 'burn: box "Burned successfully!"' "$count"
  click_at "$(grep -oE 'Burned successfully!", its button at [0-9]+,[0-9]+' "$work/mgr.log" | tail -1 | sed -E 's/.* at //')"
  wait_for 'burn: the job ended with' "$count"
  grep -F 'burn: the job ended with' "$work/mgr.log" | tail -1 | grep -qF 'with 1' || fail "the burn failed"
  click_at "$button"  # Finish
  for _ in $(seq 100); do xdotool search --onlyvisible --name '^Burning$' >/dev/null 2>&1 || break; sleep 0.1; done
}
read -r row_x row_y row_h < <(grep -oE 'the first at [0-9]+,[0-9]+, [0-9]+ high' "$work/mgr.log" | tail -1 |
  sed -E 's/the first at ([0-9]+),([0-9]+), ([0-9]+) high/\1 \2 \3/')
names=(LYR0001 LYR0002)
blank_cd() { printf 'kind=CD-R\nblank=1\nfree=359849\n' >"$work/writer/disc-0,0,0.txt"; rm -rf "$work/writer/burned"; }

# A data disc of the first two recordings: Add to Burn-list (Ctrl+B) on the
# "Data CD" page, then Burn.
blank_cd
wait_for 'burn: page "Data CD"' 1
select_two
xdotool key ctrl+b
wait_for 'burn: 2 of 2 recordings added' 1
burn_page 1
mv "$work/writer/burned/0,0,0/image.iso" "$work/data.iso" || fail "the writer received no data disc"

# An audio CD of the same two on the "Audio CD" page.
blank_cd
xdotool windowraise "$panel"
sleep 0.2
click_at "$(panel_at tab1)"
wait_for 'burn: page "Audio CD"' 1
select_two
xdotool key ctrl+b
wait_for 'burn: 2 of 2 recordings added' 2
burn_page 2
mkdir -p "$work/audio"
mv "$work/writer/burned/0,0,0/"track*.cdda "$work/audio/" || fail "the writer received no audio tracks"

# Both to the copy folder from the "HDD" page (which starts there), with
# "Output SHA1": Copy && Save (Ctrl+C).
xdotool windowraise "$panel"
sleep 0.2
click_at "$(panel_at tab2)"
wait_for 'burn: page "HDD"' 1
click_at "$(panel_at sha1Check)"
select_two
xdotool key ctrl+c
wait_for 'transfer: copy of 2 recordings ended with' 1
grep -qF 'transfer: copy of 2 recordings ended with 1' "$work/mgr.log" || fail "the copy failed"

kill -USR1 "$emu_pid"
wait_for 'pane "No LYR found"' 1

kill -USR2 "$emu_pid"
wait_for 'pane "LYR Connected"' 2
# Put away on the unplug, back when the recorder came.
timeout 10 xdotool search --sync --onlyvisible --name '^TORVI LYR$' >/dev/null || fail "the window did not come back"

stop_manager
grep -qF 'frame: recorder released 1' "$work/mgr.log" || fail "the recorder was not safely removed at exit"

# What the window copied and burnt, against lyrctl on the same recordings.
ctl="$build/tools/lyrctl/lyrctl"
# Found through the same sysfs tree: the BWF headers carry the same recorder id.
LYR_SYSFS_ROOT="$work/sys" "$ctl" export --quiet --yes --sha1 --to "$work/ref" "${names[@]}" >/dev/null ||
  fail "lyrctl export"
for name in "${names[@]}"; do
  cmp -s "$work/ref/$name.wav" "$work/out/$name.wav" || fail "the copy of $name differs from lyrctl export"
  [ "$(tr -d ' \r\n' <"$work/out/$name.txt" | tr A-F a-f)" = "$(sha1sum "$work/out/$name.wav" | cut -d' ' -f1)" ] ||
    fail "the digest of $name is not the file's SHA-1"
done
osirrox -indev "$work/data.iso" -extract / "$work/disc" >/dev/null 2>&1 || fail "the data disc cannot be read"
for name in "${names[@]}"; do
  cmp -s "$work/ref/$name.wav" "$work/disc/$name.wav" || fail "$name on the data disc differs from lyrctl export"
done
mkdir -p "$work/writer2"
head -1 "$work/writer/drives.txt" >"$work/writer2/drives.txt"
printf 'kind=CD-R\nblank=1\nfree=359849\n' >"$work/writer2/disc-0,0,0.txt"
LYR_SYSFS_ROOT="$work/sys" LYR_BURN_EMU_STATE="$work/writer2" LYR_CDRECORD="$build/tools/lyr-burn-emu/bin/cdrecord" \
  "$ctl" burn-audio --quiet --yes --drive 0,0,0 "${names[@]}" >/dev/null 2>&1 ||
  fail "lyrctl burn-audio"
for track in track01.cdda track02.cdda; do
  cmp -s "$work/writer2/burned/0,0,0/$track" "$work/audio/$track" || fail "audio $track differs from lyrctl burn-audio"
done

kill -INT "$emu_pid"
wait "$emu_pid" || fail "lyr-emu did not stop cleanly"
emu_pid=""
mountpoint -q "$work/mnt" && fail "the stand-in's mount was left behind"
echo "PASS"
