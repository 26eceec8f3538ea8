#!/usr/bin/env bash
# Runs the whole test suite: every test of the normal build, then the core
# tests of the sanitizer build. Exits non-zero when any test fails.
set -uo pipefail
build=${1:-build}
asan_build=${2:-build-asan}
win_build=${3:-}
jobs=$(nproc)
status=0

echo "== tests (${build})"
(cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 900) || status=1

echo "== core tests under AddressSanitizer and UndefinedBehaviorSanitizer (${asan_build})"
(cd "$asan_build" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j "$jobs" -L core --timeout 900) || status=1

if [ -n "$win_build" ]; then
  echo "== Windows core tests under Wine (${win_build})"
  "$(dirname "$0")/run-wine-tests.sh" "$win_build" || status=1
fi

exit $status
