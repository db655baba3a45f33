# Thin driver over CMake + Ninja.  `make test` and `make demo` are the README's two
# set-up commands; each installs missing Debian packages first.
#
#   make test   unit tests, the same tests under ASan+UBSan, and a short run of
#               every fuzz target
#   make demo   the main job: builds quillbox-admin and runs scripts/demo (README.md)
#   make bench  build and run the benchmarks, printing their comparison tables

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 8
CMAKE_GEN = -G Ninja

.PHONY: deps build test unit asan fuzz demo bench clean

deps:
	bash scripts/install-deps

build: deps
	cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)

unit: build
	cd build && ctest --output-on-failure -j $(JOBS)

asan: deps
	cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQB_SANITIZE=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

fuzz: deps
	cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build build-fuzz -j $(JOBS)
	bash fuzz/run-all build-fuzz $(FUZZ_SECONDS)

test: unit asan fuzz

bench: deps
	cmake -S . -B build-bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DQB_BENCH=ON -DQB_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	bash bench/run-all build-bench

demo: deps
	cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS) --target quillbox-admin
	bash scripts/demo build

clean:
	rm -rf build build-asan build-fuzz build-bench
