# Convenience front end over CMake.
BUILD ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

.PHONY: all configure build run test install sanitize bench clean

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

sanitize:
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DCORVID_SANITIZE=ON >/dev/null
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ctest --output-on-failure -j $(JOBS)

bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCORVID_BUILD_BENCH=ON >/dev/null
	cmake --build build-bench -j $(JOBS)

clean:
	rm -rf build build-sanitize build-bench build-fuzz

# The fuzz targets (clang, libFuzzer, ASan+UBSan, in build-fuzz): each runs
# over its corpus and then FUZZ_SECONDS more; a failure leaves its input in
# build-fuzz/artifacts.
FUZZ_SECONDS ?= 60
.PHONY: fuzz memcheck
fuzz:
	fuzz/run $(FUZZ_SECONDS)

# valgrind's memcheck over the interpreter's golden runs: no memory error,
# no leak.
memcheck: configure
	cmake --build $(BUILD) -j $(JOBS) --target tape
	tools/memcheck $(BUILD)
