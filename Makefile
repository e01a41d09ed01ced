# Entry points: `make test` and `make demo` set up a fresh Debian machine,
# build everything and run the tests, respectively the main job. `make fuzz`
# runs every libFuzzer target for FUZZ_S seconds in a clang build of its own.
BUILD ?= build
JOBS  ?= $(shell nproc)
# Tests also wait (on subprocesses, the loaders' status polls, pauses the
# commands prescribe): one more at a time than there are cores keeps the
# cores busy.
TEST_JOBS ?= $(shell echo $$(($(JOBS) + 1)))
CMAKE_FLAGS ?=
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_S ?= 60

# Compiler-cache hits across checkouts: paths under the tree are hashed relative
# to it, so a fresh clone elsewhere reuses what another checkout compiled.
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1
# The test programs share a precompiled header, which the cache takes only so.
export CCACHE_SLOPPINESS ?= pch_defines,time_macros

.PHONY: deps configure build test asan tsan demo bench fuzz clean

deps:
	@bash tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) > $(BUILD).configure.log 2>&1 || { cat $(BUILD).configure.log; exit 1; }

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(TEST_JOBS) --timeout 600

# The sanitizer builds use clang: it compiles them in two thirds of GCC's
# time, and its sanitizers are the reference ones. The plain build stays with
# GCC, so both compilers' warnings are heard.
SANITIZER_COMPILERS = -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

# The whole suite under AddressSanitizer and UBSan, in a build of its own,
# less the tests labelled plain_only: checks that read sources or package
# files and run no instrumented code worth the sanitizers' time.
asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja $(SANITIZER_COMPILERS) -DROMSMITH_SANITIZE=ON > $(ASAN_BUILD).configure.log 2>&1 || { cat $(ASAN_BUILD).configure.log; exit 1; }
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(TEST_JOBS) --timeout 600 -LE plain_only

# The threaded parts under ThreadSanitizer.
tsan: deps
	@cmake -S . -B $(TSAN_BUILD) -G Ninja $(SANITIZER_COMPILERS) -DROMSMITH_SANITIZE=thread > $(TSAN_BUILD).configure.log 2>&1 || { cat $(TSAN_BUILD).configure.log; exit 1; }
	@bash tools/run-tsan.sh $(TSAN_BUILD)

demo: build
	@bash tools/demo.sh $(BUILD)

# With BASELINE=<another build directory> (its benchmarks built), the board's
# key benchmarks of both run in turns and print before/after ratios instead.
bench: build
	@cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@if [ -n "$(BASELINE)" ]; then bash tools/bench-compare.sh $(BASELINE) $(BUILD); \
	else for b in $(BUILD)/bench/*; do [ -x "$$b" ] && "$$b"; done; true; fi

fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DROMSMITH_FUZZ=ON -DROMSMITH_WERROR=OFF > $(FUZZ_BUILD).configure.log 2>&1 || { cat $(FUZZ_BUILD).configure.log; exit 1; }
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	@bash tools/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_S) $(FUZZERS)

clean:
	rm -rf $(BUILD) $(BUILD).configure.log $(ASAN_BUILD) $(ASAN_BUILD).configure.log \
	  $(TSAN_BUILD) $(TSAN_BUILD).configure.log $(FUZZ_BUILD) $(FUZZ_BUILD).configure.log
