# The two set-up commands of the README. Each installs what the project
# needs, then configures and builds.
#   make run   release build, then start the program
#   make test  AddressSanitizer + UBSan build, then every test

JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/asan
BENCH_DIR := build/bench

.PHONY: run test build deps bench clean

deps:
	@bash scripts/install-deps

build: deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUENVAR_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j $(JOBS)

run: build
	@bash scripts/run-app $(RELEASE_DIR)

test: deps
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENVAR_SANITIZE=ON
	cmake --build $(TEST_DIR) -j $(JOBS)
	bash scripts/run-tests $(TEST_DIR)

bench: deps
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUENVAR_TESTS=OFF -DQUENVAR_BENCH=ON
	cmake --build $(BENCH_DIR) -j $(JOBS)
	bash scripts/run-bench $(BENCH_DIR)

clean:
	rm -rf build
