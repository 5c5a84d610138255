# Convenience front end over CMake.
BUILD ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

.PHONY: all configure build run test install sanitize bench fuzz clean

all: build

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Only the interpreter and its libraries, not the test suite.
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target tape
	$(BUILD)/tape

install: configure
	cmake --build $(BUILD) -j $(JOBS) --target tape
	cmake --install $(BUILD) --prefix $(abspath $(PREFIX))

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The sanitizer suite also runs the ISO C++ forms of the interpreter's fast
# paths (CORVID_PORTABLE), which the plain build leaves out; the fuzz
# targets run the GNU forms under the sanitizers.
sanitize:
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DCORVID_SANITIZE=ON -DCORVID_PORTABLE=ON >/dev/null
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ctest --output-on-failure -j $(JOBS)

# Release build with the micro-benchmarks, then the timing table against the
# reference implementations (bench/run --help).
bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCORVID_BUILD_BENCH=ON -DCORVID_BUILD_TESTS=OFF >/dev/null
	cmake --build build-bench -j $(JOBS)
	bench/run --no-build

# The fuzz targets of fuzz/ (clang, libFuzzer, ASan+UBSan, in build-fuzz),
# each over its corpus and then FUZZ_SECONDS more (a failure leaves its
# input in build-fuzz/artifacts); then the differential test of the
# executor at length.
FUZZ_SECONDS ?= 60
fuzz: build
	fuzz/run $(FUZZ_SECONDS)
	CORVID_FUZZ_ROUNDS=$${CORVID_FUZZ_ROUNDS:-200000} $(BUILD)/tests/interpreter_tests --gtest_filter='Executor.Agrees*'

clean:
	rm -rf build build-sanitize build-bench build-fuzz

.PHONY: memcheck

# valgrind's memcheck over the interpreter's golden runs: no memory error,
# no leak.
memcheck: configure
	cmake --build $(BUILD) -j $(JOBS) --target tape
	tools/memcheck $(BUILD)
