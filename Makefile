# Entry points. `make demo` builds the library and the command alone and
# shrinks the bundled sample document; `make install` installs them under
# PREFIX; `make test` builds everything and runs every test (plain,
# sanitized, Python, Node.js, install, fuzzing, threads, leaks, byte identity). Each installs the
# Debian packages it needs first when they are missing (as root, or through sudo).

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
PREFIX     ?= /usr/local

# What the library and the command need (ICU only to build: the Unicode
# tables are generated from it; RapidJSON for the command alone), and what
# the tests need besides.
PACKAGES      = cmake ninja-build g++ pkg-config libicu-dev libfyaml-dev rapidjson-dev
TEST_PACKAGES = $(PACKAGES) libgtest-dev libbenchmark-dev python3 clang libclang-rt-14-dev \
                parallel valgrind

.PHONY: all deps lean-deps build command demo install test unit sanitize tsan bench clean

all: build

# $(call apt_install,packages): installs those of the packages that are missing.
define apt_install
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi
endef

deps:
	$(call apt_install,$(TEST_PACKAGES))

lean-deps:
	$(call apt_install,$(PACKAGES))

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENDRA_TESTS=ON -DQUENDRA_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)

# The library and the command alone. A fresh build directory is configured
# without the tests; one that `make build` configured keeps its settings.
command: lean-deps
	@test -f $(BUILD)/CMakeCache.txt || \
	  cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENDRA_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS) --target quendra quendra_cli

demo: command
	@echo "== examples/api.json: $$(wc -c < examples/api.json) bytes, shrunk to 1500 characters =="
	$(BUILD)/quendra --max-chars 1500 --report examples/api.json
	@echo "== the same with --strategy condense and a query, 3000 characters, compact =="
	$(BUILD)/quendra --strategy condense --query "stars and language" --max-chars 3000 \
	  --indent 0 --report examples/api.json
	@echo "== the command is $(abspath $(BUILD))/quendra; put it on the PATH with"
	@echo "     make install                      (into $(PREFIX)/bin, the library into $(PREFIX)/lib)"
	@echo "   or for this shell only"
	@echo "     export PATH=\"$(abspath $(BUILD)):\$$PATH\""

# Installs the library, its header, the command, the pkg-config file and the
# CMake package under PREFIX (through sudo when PREFIX is not writable).
install: command
	@SUDO=""; \
	if [ "$$(id -u)" != 0 ] && ! [ -w "$(PREFIX)" ] && ! { [ ! -e "$(PREFIX)" ] && [ -w "$$(dirname "$(PREFIX)")" ]; }; then \
	  SUDO=sudo; \
	fi; \
	$$SUDO cmake --install $(BUILD) --prefix "$(PREFIX)" && \
	if [ "$$(id -u)" = 0 ] && command -v ldconfig >/dev/null; then ldconfig; fi
	@echo "installed: $(PREFIX)/bin/quendra"

unit: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUENDRA_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

test: unit sanitize pytest installtest nodetest fuzz tsan leaks identity

.PHONY: pytest installtest

# The Python binding, the command and the README's examples, against the build,
# run by Debian's python3, which sees Dask (with dask.distributed, for the
# README's cluster) and mypy, and the package as users install it: the wheel
# of `pip wheel ./python` and `pip install ./python`, into new virtual
# environments of `python3`, with no index.
PYTHON           ?= /usr/bin/python3
PYTEST_PACKAGES   = python3-venv python3-dask python3-distributed python3-mypy

pytest: build
	$(call apt_install,$(PYTEST_PACKAGES))
	QUENDRA_LIBRARY=$(abspath $(BUILD))/libquendra.so QUENDRA_CLI=$(abspath $(BUILD))/quendra \
	  PYTHONPATH=$(CURDIR)/python $(PYTHON) -m unittest discover -s python/tests -v

# Installs into a temporary prefix and builds a consumer with find_package and
# pkg-config; then, as root, the same against an install into /usr/local.
installtest: build
	tests/install/run.sh $(BUILD)

# The Node.js package in node/: npm ci installs its development dependencies
# and builds the addon (incrementally, into node/build), node --test runs its
# tests (the token counts against tiktoken through the build's
# tests/token_ids), and test/pack.sh packs the tarball with its prebuilt addon, installs
# it offline into empty projects with the compilers hidden (with and without
# the prebuilt addon), loads it and type-checks the TypeScript example.
# Node.js and npm come from Debian only when the machine has none.
.PHONY: nodetest
nodetest: build
	@if ! command -v node >/dev/null || ! command -v npm >/dev/null; then \
	  echo "installing: nodejs npm"; \
	  SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq nodejs npm; \
	fi
	cd node && JOBS=$(JOBS) npm ci --no-audit --no-fund --foreground-scripts --loglevel=error
	cd node && QUENDRA_TOKEN_IDS=$(abspath $(BUILD))/tests/token_ids npm test
	JOBS=$(JOBS) node/test/pack.sh

# Byte identity: the library as the packages ship it and the plain build,
# against the library built from IDENTITY_BASE, on generated requests
# (tests/identity.sh, bench/compare_builds.cc). IDENTITY_BASE is the revision
# whose outputs are the reference: a change that means to change outputs
# moves it to its own parent.
IDENTITY_BASE  ?= e071b3fc9b558b942a533e5d6aaa0f55fd19e768
IDENTITY_COUNT ?= 2000

.PHONY: identity

identity: build
	COUNT=$(IDENTITY_COUNT) JOBS=$(JOBS) tests/identity.sh $(IDENTITY_BASE) $(BUILD)

# Fuzzing: each libFuzzer target (built with clang and the address and
# undefined-behaviour sanitizers) runs FUZZ_SECONDS from fuzz/corpus.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: fuzz tsan leaks

fuzz: deps
	cmake -S fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The concurrency test, and the command's batch mode on two threads, under
# the thread sanitizer.
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENDRA_TSAN=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target concurrency_test quendra_cli
	TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/concurrency_test
	seq 1 20000 | sed 's/.*/{"id":&,"tags":["a","b","c","d","e"],"note":"lorem ipsum dolor"}/' | \
	  TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/quendra --ndjson --jobs 2 --max-chars 40 --report \
	  > /dev/null

# The C host under valgrind: no leak and no invalid memory access.
leaks: build
	valgrind --leak-check=full --error-exitcode=1 $(BUILD)/tests/c_host $(BUILD)/libquendra.so

# Benchmarks, built with Release. simdjson is the peer they compare with, so
# it is installed for them alone. `make benchrun` prints the whole table
# (several minutes; BENCH_ARGS is passed to bench/compare.py, e.g. --skip-large,
# or --lib PATH twice to compare two library builds).
BENCH_ARGS ?=

.PHONY: benchrun

bench: deps
	$(call apt_install,libsimdjson-dev)
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUENDRA_BENCH=ON -DQUENDRA_TESTS=OFF
	cmake --build build-bench -j $(JOBS)

benchrun: bench
	python3 bench/compare.py --build build-bench $(BENCH_ARGS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) build-bench build-identity python/build \
	  node/build node/node_modules node/vendor node/prebuilds
