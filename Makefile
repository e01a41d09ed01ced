# Entry points: `make test` and `make demo` set up a fresh Debian machine,
# build everything and run the tests, respectively the main job.
BUILD ?= build
JOBS  ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps configure build test demo bench clean

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

clean:
	rm -rf $(BUILD) $(BUILD).configure.log
