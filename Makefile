# Two entry points for a new machine: `make run` and `make test`.
# Both install what is missing first (tools/install-deps).

JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test deps build sanitize clang bench clean

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

bench: build
	./build/zir_bench

clean:
	rm -rf build build-sanitize build-clang
