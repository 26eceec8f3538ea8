#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Idempotent: packages already present are skipped, so a second run is quick.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config clang libclang-rt-14-dev
  # desktop program and sound output
  qt6-base-dev libsdl2-dev
  # discovery
  libudev-dev
  # command-line front end
  libcli11-dev nlohmann-json3-dev
  # stand-in recorder
  libfuse3-dev fuse3 libtwolame-dev
  # tests and their reference tools
  libgtest-dev libgmock-dev mpg123 libmpg123-dev twolame sox python3 bindfs
  # the audio CD job's sample-rate converter
  libsoxr-dev
  # burning tools
  wodim genisoimage xorriso cdrskin
  # benchmarks
  libbenchmark-dev hyperfine bc time openssl
  # lyr-manager's end-to-end test and screenshots on a virtual display
  xvfb xauth xdotool imagemagick openbox
  # the Windows build (MinGW-w64, posix threads), its tests under Wine, its zip
  g++-mingw-w64-x86-64-posix wine wine64 zip
  # the Debian package and its checks (make deb)
  dpkg-dev file lintian desktop-file-utils appstream librsvg2-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
