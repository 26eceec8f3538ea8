# Sourced by the whole-program tests of lyr-manager on a virtual X display:
# skips (exit 77, or a failure in CI), the re-run under xvfb-run, the work
# folder with the stand-in, the program and a window manager ended on exit,
# and waiting for the program's trace. Needs $work set before gui_work_folder.

in_ci() { case "${CI:-}" in ""|false|0) return 1 ;; *) return 0 ;; esac; }
skip() {
  if in_ci; then echo "FAIL: $*" >&2; exit 1; fi
  echo "SKIP: $*" >&2; exit 77
}

# Runs the calling script again under xvfb-run once the tools it names and
# /dev/fuse are there.
rerun_in_xvfb() {
  [ -n "${LYR_E2E_IN_XVFB:-}" ] && return 0
  local tool
  for tool in xvfb-run xdotool "${gui_tools[@]}"; do command -v "$tool" >/dev/null || skip "$tool is not installed"; done
  { exec 3<>/dev/fuse; } 2>/dev/null || skip "/dev/fuse cannot be opened"
  exec 3>&-
  exec xvfb-run -a -s "-screen 0 1280x800x24" env LYR_E2E_IN_XVFB=1 "$0" "${script_args[@]}"
}

emu_pid=""
mgr_pid=""
wm_pid=""
cleanup() {
  [ -n "$mgr_pid" ] && kill -KILL "$mgr_pid" 2>/dev/null
  if [ -n "$emu_pid" ]; then kill -INT "$emu_pid" 2>/dev/null; wait "$emu_pid" 2>/dev/null; fi
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  mountpoint -q "$work/mnt" 2>/dev/null && fusermount3 -u -z "$work/mnt"
  [ -n "${LYR_E2E_KEEP:-}" ] && return; rm -rf "$work"
}
fail() {
  echo "FAIL: $*" >&2
  # The screen as it was, for a run that names a place for it.
  [ -n "${LYR_E2E_FAIL_SHOT:-}" ] && import -window root "$LYR_E2E_FAIL_SHOT" 2>/dev/null
  echo "--- lyr-manager:" >&2; cat "$work/mgr.log" >&2
  echo "--- lyr-emu:" >&2; cat "$work/serve.log" >&2 2>/dev/null
  exit 1
}
# Waits until the program's trace holds `text` at least `count` times.
wait_for() {
  local text=$1 count=${2:-1}
  for _ in $(seq 200); do
    [ "$(grep -cF -- "$text" "$work/mgr.log")" -ge "$count" ] && return 0
    sleep 0.05
  done
  fail "no '$text' (#$count) within 10 s"
}
# SIGTERM ends the program through its closing sequence, with status 0.
stop_manager() {
  kill -TERM "$mgr_pid"
  for _ in $(seq 200); do kill -0 "$mgr_pid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$mgr_pid" 2>/dev/null && fail "lyr-manager did not end within 10 s of SIGTERM"
  wait "$mgr_pid"
  local code=$?
  mgr_pid=""
  [ "$code" -eq 0 ] || fail "lyr-manager ended with $code"
}
