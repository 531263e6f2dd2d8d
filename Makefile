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

test: unit sanitize pytest installtest

.PHONY: pytest installtest

# The Python binding, the command and the README's examples, against the build.
pytest: build
	QUENDRA_LIBRARY=$(abspath $(BUILD))/libquendra.so QUENDRA_CLI=$(abspath $(BUILD))/quendra \
	  PYTHONPATH=$(CURDIR)/python python3 -m unittest discover -s python/tests -v

# Installs into a temporary prefix and builds a consumer with find_package and pkg-config.
installtest: build
	tests/install/run.sh $(BUILD)

bench: deps
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUENDRA_BENCH=ON -DQUENDRA_TESTS=OFF
	cmake --build build-bench -j $(JOBS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) build-bench
