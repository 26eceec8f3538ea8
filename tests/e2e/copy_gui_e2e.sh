#!/usr/bin/env bash
# Runs the copy page end-to-end test on a virtual X display. Exit 77 is a skip
# (no xvfb-run here); in CI (CI=true) that is a failure instead.
set -uo pipefail
in_ci() { case "${CI:-}" in ""|false|0) return 1 ;; *) return 0 ;; esac; }
if ! command -v xvfb-run >/dev/null; then
  if in_ci; then echo "FAIL: xvfb-run is not installed" >&2; exit 1; fi
  echo "SKIP: xvfb-run is not installed" >&2
  exit 77
fi
exec xvfb-run -a -s "-screen 0 1280x800x24" env QT_QPA_PLATFORM=xcb "$@"
