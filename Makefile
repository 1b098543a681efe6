# Clip Vault: `make run` builds and starts the program, `make test` runs every test,
# `make bench` runs the benchmarks. Each first installs what is missing (scripts/setup-deps).

BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
JOBS       ?= $(shell nproc)

.PHONY: run test bench build package deps deps-test sanitize fuzz-long clean

run: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DBUILD_TESTING=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS) --target clipvault clipvault-cli
	$(BUILD)/bin/clipvault

build: deps-test
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

test: deps-test
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DBUILD_TESTING=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: deps-test
	cmake -S . -B $(BUILD)-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCLIPVAULT_BENCH=ON $(CMAKE_ARGS)
	cmake --build $(BUILD)-bench -j $(JOBS)
	$(BUILD)-bench/bench/clipvault-bench

# A Debian package of the program for /usr, checked by lintian when it is installed.
package: deps
	cmake -S . -B $(BUILD)-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_ARGS)
	cmake --build $(BUILD)-package -j $(JOBS)
	cd $(BUILD)-package && cpack
	@if command -v lintian >/dev/null; then lintian --fail-on error $(BUILD)-package/clipvault_*.deb; fi

# The unit tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps-test
	cmake -S . -B $(BUILD)-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCLIPVAULT_SANITIZE=ON -DCLIPVAULT_GUI=OFF -DBUILD_TESTING=ON $(CMAKE_ARGS)
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && ctest --output-on-failure -L unit -j $(JOBS)

# Each fuzz target for ten minutes (CI runs them for thirty seconds each).
fuzz-long: deps-test
	scripts/run-fuzzers 600

deps:
	@scripts/setup-deps

deps-test:
	@scripts/setup-deps --test

clean:
	rm -rf $(BUILD) $(BUILD)-bench $(BUILD)-asan $(BUILD)-package
