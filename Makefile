# Everything a fresh Debian 12 or 13 machine needs: `make run` and `make test`.
BUILD  ?= build
JOBS   ?= $(shell nproc)
CMAKE_FLAGS ?=
# Development and CI builds stop at any warning; `make package` on a fresh tree
# and a plain cmake configure don't. `make test WERROR=OFF` on a newer compiler.
WERROR ?= ON
DEV_FLAGS = -DVELORIZER_WERROR=$(WERROR)

FUZZ_SECONDS ?= 60

.PHONY: all deps configure build run test test-long test-asan fuzz bench package package-test screenshots clean

all: build

deps:
	@scripts/install-deps

# Configured once if missing, as a packager would (keeps an existing tree's settings).
$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(DEV_FLAGS) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-velorun $(BUILD)/bin/velorun

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The Debian package: build/velorizer_<version>_<arch>.deb
package: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && cpack -G DEB

# The package unpacked into a scratch root, validated and started.
package-test: package
	scripts/package-test $(BUILD)/velorizer_*.deb

# The README's pictures, from the program as built, under a virtual display.
screenshots: build
	scripts/screenshots.sh $(BUILD)

# Tagging and listing against their floors and a peer library, warm and cold
# (cold rows need root), in a Release build.
bench: deps
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release $(DEV_FLAGS)
	cmake --build build-bench -j $(JOBS) --target bench_tagging bench_tree velorize bench_gui bench_vexlor bench_list_drop
	scripts/bench build-bench

# The reliability tests at full length (hundreds of kills, not a dozen).
test-long: build
	cd $(BUILD) && VELORIZER_LONG_TESTS=1 ctest --output-on-failure -L reliability

# The non-GUI tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Asan -DVELORIZER_GUI=OFF $(DEV_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# Every fuzz target for FUZZ_SECONDS each (clang, libFuzzer, ASan+UBSan).
fuzz: deps
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	      -DVELORIZER_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo $(DEV_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target fuzzers
	scripts/run-fuzzers build-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) build-asan build-fuzz build-bench
