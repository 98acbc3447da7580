# Zelvaro's front door. `make run` starts the tuner, `make test` builds
# everything (warnings as errors) and runs the whole test suite. Both install
# the Debian packages they need first.

BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test bench clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVARO_WERROR=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The tuner window; RUN_ARGS passes options, e.g. make run RUN_ARGS='--scale 3'.
RUN_ARGS ?=
# Only the program is built, so the first start does not wait for the tests.
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target zelvaro-desk
	$(BUILD)/zelvaro-desk $(RUN_ARGS)

test: build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 600

bench: build
	$(BUILD)/bench-analysis-desk
	$(BUILD)/bench-analysis-pocket
	$(BUILD)/bench-memmgr
	$(BUILD)/bench-drawing-desk
	$(BUILD)/bench-screen-desk
	$(BUILD)/bench-tuner-frame-desk
	$(BUILD)/bench-mixer
	bench/desk-usage $(BUILD) 20
	bench/analyze-memory $(BUILD) 10

clean:
	rm -rf $(BUILD)
