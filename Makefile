# Two entry points for a new machine: `make run` and `make test`.
# Both install what is missing first (tools/install-deps).

JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

FUZZ_SECONDS ?= 20

.PHONY: run test deps build sanitize clang fuzz bench clean

deps:
	@tools/install-deps

build: deps
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

run: build
	./build/zir

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

# The suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer
# and the collector's stress mode.
sanitize: deps
	cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZIR_SANITIZE=ON -DZIR_STRESS=ON $(CMAKE_FLAGS)
	cmake --build build-sanitize -j $(JOBS)
	ctest --test-dir build-sanitize --output-on-failure -j $(JOBS)

# The suite built with clang, which must build the project too.
clang: deps
	cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ $(CMAKE_FLAGS)
	cmake --build build-clang -j $(JOBS)
	ctest --test-dir build-clang --output-on-failure -j $(JOBS)

# Each fuzz target for FUZZ_SECONDS, from its seeds in tests/fuzz/seeds/NAME.
FUZZERS := $(patsubst tests/fuzz/%.cpp,fuzz-%,$(wildcard tests/fuzz/*.cpp))
fuzz: deps
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DZIR_FUZZ=ON $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZERS)
	@printf '%s\n' $(FUZZERS) | xargs -P $(JOBS) -I{} tools/fuzz-one {} $(FUZZ_SECONDS)

# The microbenchmarks, then the whole programs of bench/programs against
# python3 and lua5.4.
bench: build
	./build/zir_bench
	/usr/bin/python3 bench/programs/run.py build/zir

clean:
	rm -rf build build-sanitize build-clang build-fuzz
