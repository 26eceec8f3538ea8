# Two entry points for a fresh machine:
#   make run   installs what is missing, builds, and runs the main job (the demo)
#   make test  installs what is missing, builds, and runs every test
BUILD ?= build
ASAN_BUILD ?= build-asan
WIN_BUILD ?= build-win
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DLYR_WERROR=ON
FUZZ_RUNS ?= 20000

.PHONY: deps build build-asan build-win run test test-fast test-win bench screenshots deb clean

deps:
	scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja $(CMAKE_FLAGS) -DLYR_SANITIZE=ON -DLYR_BUILD_TOOLS=OFF -DLYR_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# The Windows build: the ported core layers and their tests, cross-built with
# MinGW-w64; its tests run under Wine.
build-win: deps
	cmake -S . -B $(WIN_BUILD) -G Ninja $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
	  -DLYR_BUILD_TOOLS=OFF -DLYR_BUILD_BENCH=OFF
	cmake --build $(WIN_BUILD) -j $(JOBS)

test-win: build-win
	scripts/run-wine-tests.sh $(WIN_BUILD)

run: build
	scripts/demo.sh $(BUILD)

# Every test: a bounded run of every fuzz target, the full build's tests, and
# the core tests again under ASan and UBSan.
test: build build-asan build-win
	scripts/fuzz-smoke.sh build-fuzz $(FUZZ_RUNS)
	scripts/run-tests.sh $(BUILD) $(ASAN_BUILD) $(WIN_BUILD)

# The full build's tests only, for quick rounds while working.
test-fast: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	scripts/bench.sh $(BUILD)

# lyr-manager's windows as PNG files in $(BUILD)/screenshots, rendered offscreen.
screenshots: build
	scripts/screenshots.sh $(BUILD)

# The Debian package lyr-manager (with its -dbgsym) in $(BUILD)/packages,
# checked by lintian, desktop-file-validate and appstreamcli.
deb: build
	rm -rf $(BUILD)/packages
	cd $(BUILD) && cpack -G DEB
	scripts/check-deb.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(WIN_BUILD) build-fuzz
