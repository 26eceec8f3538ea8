# Sourced by the scripts that serve the stand-in recorder: a work folder
# ($work, with the mount point $mnt) that goes on exit, with the stand-in
# stopped and nothing left mounted.
# serve_stand_in EMU [SERVE-OPTION...] serves $work/store as $mnt/disk and
# sets $pid; it fails (showing lyr-emu's output) when the disk never appears.
work=$(mktemp -d "${TMPDIR:-/tmp}/lyr-${stand_in_tag:-run}-XXXXXX")
mnt="$work/mnt"
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill -INT "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  # A stand-in that ended badly may leave its mount behind.
  if mountpoint -q "$mnt" 2>/dev/null; then fusermount3 -u -z "$mnt" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

serve_stand_in() {
  local emu=$1
  shift
  mkdir -p "$mnt"
  "$emu" serve "$work/store" "$mnt" "$@" >"$work/serve.log" 2>&1 &
  pid=$!
  for _ in $(seq 100); do [ -f "$mnt/disk" ] && return 0; sleep 0.05; done
  cat "$work/serve.log" >&2
  return 1
}
