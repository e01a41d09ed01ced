# Entry points: `make test` and `make demo` set up a fresh Debian machine,
# build everything and run the tests, respectively the main job. `make fuzz`
# runs every libFuzzer target for FUZZ_S seconds in a clang build of its own.
BUILD ?= build
JOBS  ?= $(shell nproc)
CMAKE_FLAGS ?=
FUZZ_BUILD ?= build-fuzz
FUZZ_S ?= 60

.PHONY: deps configure build test demo bench fuzz clean

deps:
	@bash tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) > $(BUILD).configure.log 2>&1 || { cat $(BUILD).configure.log; exit 1; }

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

demo: build
	@bash tools/demo.sh $(BUILD)

bench: build
	@for b in $(BUILD)/bench/*; do [ -x "$$b" ] && "$$b"; done; true

fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DROMSMITH_FUZZ=ON -DROMSMITH_WERROR=OFF > $(FUZZ_BUILD).configure.log 2>&1 || { cat $(FUZZ_BUILD).configure.log; exit 1; }
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	@bash tools/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_S) $(FUZZERS)

clean:
	rm -rf $(BUILD) $(BUILD).configure.log $(FUZZ_BUILD) $(FUZZ_BUILD).configure.log
