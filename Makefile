# Zelvaro's front door. `make run` starts the tuner, `make test` builds
# everything (warnings as errors) and runs the whole test suite. Both install
# the Debian packages they need first.

BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test bench evaluate install package clean

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

# The three programs and their documents under PREFIX (DESTDIR is honoured).
# A build folder that exists is used as it is, so that `make` and then
# `sudo make install` build as the user and only install as root.
PREFIX ?= /usr/local
PROGRAMS = zelvaro-desk zelvaro-pocket zelvaro-analyze zelvaro-docs
$(BUILD)/CMakeCache.txt:
	$(MAKE) configure

install: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS)
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, $(BUILD)/zelvaro_<version>-1_<arch>.deb.
package: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS)
	cd $(BUILD) && cpack -G DEB

bench: build
	$(BUILD)/bench-analysis-desk
	$(BUILD)/bench-analysis-pocket
	$(BUILD)/bench-memmgr
	$(BUILD)/bench-drawing-desk
	$(BUILD)/bench-screen-desk
	$(BUILD)/bench-tuner-frame-desk
	$(BUILD)/bench-mixer
	bench/desk-usage --scale 1,2,4 $(BUILD) 20
	bench/analyze-memory $(BUILD) 10

# The original and the steady reading measured on recordings of sampled
# instruments, rendered once into $(BUILD)-tools/pitch-set/ (a few minutes).
evaluate: deps
	cmake -S . -B $(BUILD)-tools -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVARO_TOOLS=ON \
	  -DZELVARO_TESTS=OFF -DZELVARO_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD)-tools -j $(JOBS) --target evaluate-reading

clean:
	rm -rf $(BUILD)
