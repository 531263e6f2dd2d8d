# Entry points. `make demo` shrinks the bundled sample document; `make test`
# builds everything and runs every test (plain, sanitized, Python, install).
# Both install missing Debian packages first (as root, through apt-get).

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)

PACKAGES = cmake ninja-build g++ pkg-config libgtest-dev libicu-dev libfyaml-dev \
           libbenchmark-dev python3 clang libclang-rt-14-dev parallel valgrind

.PHONY: all deps build demo test unit sanitize tsan bench clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENDRA_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@echo "== examples/api.json: $$(wc -c < examples/api.json) bytes, shrunk to 1500 characters =="
	$(BUILD)/quendra --max-chars 1500 --report examples/api.json
	@echo "== the same with --strategy condense and a query, 3000 characters, compact =="
	$(BUILD)/quendra --strategy condense --query "stars and language" --max-chars 3000 \
	  --indent 0 --report examples/api.json

unit: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUENDRA_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

test: unit sanitize pytest installtest fuzz tsan leaks

.PHONY: pytest installtest

# The Python binding, the command and the README's examples, against the build,
# run by Debian's python3, which sees Dask and mypy, and the package as users
# install it: a new virtual environment of `python3`, `pip install ./python`.
PYTHON           ?= /usr/bin/python3
PYTEST_PACKAGES   = python3-venv python3-dask python3-mypy

pytest: build
	@$(MAKE) --no-print-directory deps PACKAGES="$(PYTEST_PACKAGES)"
	QUENDRA_LIBRARY=$(abspath $(BUILD))/libquendra.so QUENDRA_CLI=$(abspath $(BUILD))/quendra \
	  PYTHONPATH=$(CURDIR)/python $(PYTHON) -m unittest discover -s python/tests -v

# Installs into a temporary prefix and builds a consumer with find_package and
# pkg-config; then, as root, the same against an install into /usr/local.
installtest: build
	tests/install/run.sh $(BUILD)
	tests/install/system.sh $(BUILD)

# Fuzzing: each libFuzzer target (built with clang and the address and
# undefined-behaviour sanitizers) runs FUZZ_SECONDS from fuzz/corpus.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: fuzz tsan leaks

fuzz: deps
	cmake -S fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The concurrency test under the thread sanitizer.
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENDRA_TSAN=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target concurrency_test
	TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/concurrency_test

# The C host under valgrind: no leak and no invalid memory access.
leaks: build
	valgrind --leak-check=full --error-exitcode=1 $(BUILD)/tests/c_host $(BUILD)/libquendra.so

bench: deps
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUENDRA_BENCH=ON -DQUENDRA_TESTS=OFF
	cmake --build build-bench -j $(JOBS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) build-bench python/build
