#!/usr/bin/env bash
# Runs the Windows build's tests under Wine. The Wine prefix lives in the
# build folder (made once, about 40 s); one wineserver serves every
# test program and is ended afterwards. Exits non-zero when any test fails.
set -uo pipefail
build=${1:-build-win}
build=$(cd "$build" && pwd)

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A persistent server: without it each test program pays Wine's start-up.
wineserver -p </dev/null >/dev/null 2>&1
# Wine's own services start here, away from ctest's output pipes: started by
# the first test they would hold its pipes open and ctest would wait for them.
wineboot --init </dev/null >/dev/null 2>&1 || { echo "wineboot failed"; exit 1; }
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT

(cd "$build" && ctest --output-on-failure --timeout 120 </dev/null)
