# Convenience front end over CMake.
BUILD ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

.PHONY: all configure build run test install sanitize bench fuzz clean windows test-windows package package-windows

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

# 32-bit Windows from the same sources (MinGW-w64), in build-win32: the
# interpreter tape.exe and the libraries; then the test suite, run under
# Wine in a private prefix, and the demo programs compared byte for byte
# with the Linux build's runs.
WIN_BUILD ?= build-win32
windows:
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(WIN_BUILD) -j $(JOBS) --target tape

test-windows: windows
	WINEPREFIX=$(abspath $(WIN_BUILD))/wine tools/wine-prefix
	cmake --build $(WIN_BUILD) -j $(JOBS)
	# Under Wine a test program now and then ends with a segmentation fault
	# after its last test has passed (about one run in 400, only when two
	# run side by side), so a failed test runs once more before it counts.
	cd $(WIN_BUILD) && WINEPREFIX=$(abspath $(WIN_BUILD))/wine ctest --output-on-failure -j $(JOBS) --repeat until-pass:2
	cmake --build $(BUILD) -j $(JOBS) --target tape
	WINEPREFIX=$(abspath $(WIN_BUILD))/wine tools/compare-windows $(BUILD)/tape $(WIN_BUILD)/tape.exe

# Packages from the install rules: a Debian package of the Linux build and
# a ZIP of the Windows one, in <build>/packages.
package: configure
	cmake --build $(BUILD) -j $(JOBS) --target tape
	cd $(BUILD) && cpack

package-windows: windows
	cmake --build $(WIN_BUILD) -j $(JOBS) --target manual_text
	cd $(WIN_BUILD) && cpack

clean:
	rm -rf build build-sanitize build-bench build-fuzz build-win32

.PHONY: memcheck

# valgrind's memcheck over the interpreter's golden runs: no memory error,
# no leak.
memcheck: configure
	cmake --build $(BUILD) -j $(JOBS) --target tape
	tools/memcheck $(BUILD)
