# The project's steps; CI runs the same targets (.ci/run).
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_FUZZ ?= build-fuzz
BUILD_TSAN ?= build-tsan
JOBS       ?= $(shell nproc)
WERROR     := $(if $(CI),ON,OFF)
CMAKE_FLAGS := -G Ninja -DPERIMO_WERROR=$(WERROR)

BUILD_DEB  ?= build-deb
BUILD_ARM64 ?= build-arm64
BUILD_ARMHF ?= build-armhf

.PHONY: all deps configure build run test asan build-asan test-asan test-tsan bench fuzz fuzz-smoke fuzz-long format clean deb test-package test-long deps-arm test-arm

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/perimo $(ARGS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900

$(BUILD_ASAN)/build.ninja: | deps
	cmake -S . -B $(BUILD_ASAN) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DPERIMO_SANITIZE=ON

build-asan: deps $(BUILD_ASAN)/build.ninja
	cmake --build $(BUILD_ASAN) -j $(JOBS)

test-asan: build-asan
	cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 1800

# The crash-safety test with its full count of kills per write path.
test-long: build
	cd $(BUILD) && PERIMO_CRASH_ROUNDS=200 PERIMO_BIN_DIR=$(CURDIR)/$(BUILD)/bin bin/e2e_tests --gtest_filter='CrashSafety*'

# The serial library, the serial link and the agent on a pseudo-terminal under
# ThreadSanitizer: only what those tests need is built. A report from the agent process lands
# in tsan-report.* and fails the target.
TSAN_UNIT_TESTS := serial_tests seriallink_tests log_tests
$(BUILD_TSAN)/build.ninja: | deps
	cmake -S . -B $(BUILD_TSAN) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPERIMO_TSAN=ON

test-tsan: deps $(BUILD_TSAN)/build.ninja
	cmake --build $(BUILD_TSAN) -j $(JOBS) --target $(TSAN_UNIT_TESTS) e2e_tests
	rm -f $(BUILD_TSAN)/tsan-report.*
	cd $(BUILD_TSAN) && export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 log_path=$(CURDIR)/$(BUILD_TSAN)/tsan-report" && \
	  for t in $(TSAN_UNIT_TESTS); do bin/$$t || exit 1; done && \
	  PERIMO_BIN_DIR=$(CURDIR)/$(BUILD_TSAN)/bin PERIMO_SOURCE_DIR=$(CURDIR) bin/e2e_tests --gtest_filter='SerialAgent*'
	@if ls $(BUILD_TSAN)/tsan-report.* >/dev/null 2>&1; then cat $(BUILD_TSAN)/tsan-report.*; exit 1; fi

# The plain libraries and their unit tests cross-built for arm64 and armhf and run under
# qemu-user (cmake/toolchain-*.cmake; the tests qemu cannot serve are listed in
# cmake/PerimoCoreOnly.cmake). arm64 runs on a processor with the ARMv8 crypto instructions,
# then the security tests again with them reported absent.
ARM_CMAKE_FLAGS := $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPERIMO_CORE_ONLY=ON
deps-arm:
	@scripts/install-deps arm

$(BUILD_ARM64)/build.ninja: | deps-arm
	cmake -S . -B $(BUILD_ARM64) $(ARM_CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake

$(BUILD_ARMHF)/build.ninja: | deps-arm
	cmake -S . -B $(BUILD_ARMHF) $(ARM_CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake

test-arm: deps-arm $(BUILD_ARM64)/build.ninja $(BUILD_ARMHF)/build.ninja
	cmake --build $(BUILD_ARM64) -j $(JOBS)
	cd $(BUILD_ARM64) && QEMU_CPU=max ctest --output-on-failure -j $(JOBS) --timeout 900
	cd $(BUILD_ARM64) && QEMU_CPU=cortex-a53 PERIMO_NO_CRYPTO_INSTRUCTIONS=1 \
	  ctest --output-on-failure -R '^security_tests$$' --timeout 900
	cmake --build $(BUILD_ARMHF) -j $(JOBS)
	cd $(BUILD_ARMHF) && QEMU_CPU=cortex-a15 ctest --output-on-failure -j $(JOBS) --timeout 900

bench: build
	@for b in $(BUILD)/bin/perimo-bench-*; do echo "== $$b"; $$b || exit 1; done

$(BUILD_FUZZ)/build.ninja: | deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD_FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPERIMO_FUZZ=ON

fuzz: deps $(BUILD_FUZZ)/build.ninja
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzzers

# A short bounded run of every fuzz target, seeded from its corpus folder when there is one.
fuzz-smoke: fuzz
	@for f in $(BUILD_FUZZ)/bin/fuzz-*; do \
	  name=$$(basename $$f); corpus=fuzz/corpus/$${name#fuzz-}; work=$$(mktemp -d); \
	  [ -d $$corpus ] && cp -r $$corpus/. $$work/; \
	  dict=fuzz/dict/$${name#fuzz-}.dict; [ -f $$dict ] && dictarg=-dict=$$dict || dictarg=; \
	  echo "== $$name"; $$f -max_total_time=20 -max_len=4096 -rss_limit_mb=1024 $$dictarg $$work >/dev/null 2>$$work.log \
	    || { tail -40 $$work.log; exit 1; }; \
	  rm -rf $$work $$work.log; \
	done

# Every fuzz target for FUZZ_SECONDS each on a corpus that grows across runs (scripts/fuzz-long);
# `scripts/fuzz-long --merge` then keeps what reached new code in fuzz/corpus.
FUZZ_SECONDS ?= 300
fuzz-long: fuzz
	@scripts/fuzz-long $(FUZZ_SECONDS)

# Debian packages from the tracked and new files of the tree, built apart from it; the .deb
# files land in $(BUILD_DEB).
deb: deps
	@scripts/build-deb $(BUILD_DEB)

# Builds, checks, installs, runs and purges the packages on this machine (as root).
test-package: deb
	@scripts/test-package $(BUILD_DEB)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ) $(BUILD_DEB) $(BUILD_TSAN) $(BUILD_ARM64) $(BUILD_ARMHF)
