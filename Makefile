# Everything a fresh Debian 12 or 13 machine needs: `make run` and `make test`.
# Each target installs only the packages its work needs (scripts/install-deps).
BUILD  ?= build
JOBS   ?= $(shell nproc)
CMAKE_FLAGS ?=
# Development and CI builds stop at any warning; `make package` on a fresh tree
# and a plain cmake configure don't. `make test WERROR=OFF` on a newer compiler.
WERROR ?= ON
DEV_FLAGS = -DVELORIZER_WERROR=$(WERROR)
# Development and CI builds have the tests and the benchmarks; the program as a
# user runs it and the package are built without them, or their tools.
WITH_TESTS = -DBUILD_TESTING=ON -DVELORIZER_BENCH=ON
WITHOUT_TESTS = -DBUILD_TESTING=OFF -DVELORIZER_BENCH=OFF

FUZZ_SECONDS ?= 60

.PHONY: all deps deps-run deps-test deps-all configure build run test test-long test-asan fuzz bench \
        install package package-test screenshots clean

all: build

# scripts/install-deps run|test|all
deps-run deps-test deps-all:
	@scripts/install-deps $(@:deps-%=%)
deps: deps-test

configure: deps-test
	cmake -S . -B $(BUILD) -G Ninja $(DEV_FLAGS) $(WITH_TESTS) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The program alone: no test tools, no sound or X server installed for it.
run: deps-run
	cmake -S . -B $(BUILD) -G Ninja $(DEV_FLAGS) $(WITHOUT_TESTS) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	@scripts/run-velorun $(BUILD)/bin/velorun

# Every test; then how many were skipped, and why.
test: build
	scripts/run-tests $(BUILD) -j $(JOBS)

# The Debian package: build/velorizer_<version>_<arch>.deb, built without the
# tests, as a packager would (an existing tree keeps its other settings).
package: deps-run
	cmake -S . -B $(BUILD) -G Ninja $(WITHOUT_TESTS) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && cpack -G DEB

# The programs, their manual pages and completion under PREFIX (DESTDIR is honoured).
PREFIX ?= /usr/local
install: deps-run
	cmake -S . -B $(BUILD) -G Ninja $(WITHOUT_TESTS) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	cmake --install $(BUILD) --prefix $(PREFIX)

# The package unpacked into a scratch root, validated and started.
package-test: deps-test package
	scripts/package-test $(BUILD)/velorizer_*.deb

# The README's pictures, from the program as built, under a virtual display.
screenshots: build
	scripts/screenshots.sh $(BUILD)

# Tagging and listing against their floors and a peer library, warm and cold
# (cold rows need root), in a Release build.
bench: deps-all
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release $(DEV_FLAGS) -DBUILD_TESTING=OFF -DVELORIZER_BENCH=ON
	cmake --build build-bench -j $(JOBS) --target bench_tagging bench_tree velorize bench_gui bench_vexlor bench_list_drop
	scripts/bench build-bench

# The reliability tests at full length (hundreds of kills, not a dozen).
test-long: build
	cd $(BUILD) && VELORIZER_LONG_TESTS=1 ctest --output-on-failure -L reliability

# The tests again, the desktop's offscreen among them, built with
# AddressSanitizer and UndefinedBehaviorSanitizer. Leaks are checked; the
# suppressions name only what fontconfig and the C library keep for good.
test-asan: deps-test
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Asan $(DEV_FLAGS) -DBUILD_TESTING=ON -DVELORIZER_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp UBSAN_OPTIONS=print_stacktrace=1 \
	  scripts/run-tests build-asan -j $(JOBS)

# Every fuzz target for FUZZ_SECONDS each (clang, libFuzzer, ASan+UBSan).
fuzz: deps-all
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	      -DVELORIZER_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo $(DEV_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target fuzzers
	scripts/run-fuzzers build-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) build-asan build-fuzz build-bench
