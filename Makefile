# The README's commands: thin wrappers over cmake and ctest. Each
# configuration has a build directory of its own, so they can coexist.
#   make test            native Release build, all tests
#   make test-i386       i386 cross build (-m32 -msse2 -mfpmath=sse), tests under qemu-i386
#   make test-sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build, all tests
#   make demo            build and run the demonstration example
#   make bench           build and run the benchmarks
#   make install PREFIX=/some/prefix
# Variables: JOBS (default 2), WERROR=ON (warnings are errors), CMAKE_FLAGS
# (more -D options for every configuration).
BUILD_DIR ?= build
I386_BUILD_DIR ?= build-i386
SANITIZE_BUILD_DIR ?= build-sanitize
BENCH_BUILD_DIR ?= build-bench
FUZZ_BUILD_DIR ?= build-fuzz
JOBS ?= 2
WERROR ?=
CMAKE_FLAGS ?=
SANITIZE_BUILD_TYPE ?= Debug
DEMO ?= mountain_car
DEMO_ARGS ?=
FUZZ_RUNS ?= 20000
# Extra arguments for every benchmark program, e.g.
#   make bench BENCH_ARGS='--benchmark_filter=TableSarsa --benchmark_repetitions=9'
BENCH_ARGS ?=

COMMON_FLAGS = $(if $(WERROR),-DTEMBRA_WERROR=$(WERROR)) $(CMAKE_FLAGS)
CTEST = ctest --output-on-failure -j $(JOBS) --test-dir

.PHONY: all configure build test test-i386 test-sanitize demo bench fuzz install clean

all: build

configure:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release $(COMMON_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	$(CTEST) $(BUILD_DIR)

test-i386:
	cmake -S . -B $(I386_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/i386-toolchain.cmake -DTEMBRA_GTEST_FROM_SOURCE=ON $(COMMON_FLAGS)
	cmake --build $(I386_BUILD_DIR) -j $(JOBS)
	$(CTEST) $(I386_BUILD_DIR)

# halt_on_error: a sanitizer report fails the test instead of scrolling by.
test-sanitize:
	cmake -S . -B $(SANITIZE_BUILD_DIR) -DCMAKE_BUILD_TYPE=$(SANITIZE_BUILD_TYPE) -DTEMBRA_SANITIZE=ON $(COMMON_FLAGS)
	cmake --build $(SANITIZE_BUILD_DIR) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(CTEST) $(SANITIZE_BUILD_DIR)

# The demonstration: the example examples/$(DEMO), run in $(BUILD_DIR)/demo
# so that the configuration and value-function files it writes stay out of
# the source tree.
demo:
	@$(MAKE) --no-print-directory configure >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target $(DEMO) >/dev/null
	@mkdir -p $(BUILD_DIR)/demo
	@echo "make demo: running examples/$(DEMO) in $(BUILD_DIR)/demo"
	@cd $(BUILD_DIR)/demo && $(CURDIR)/$(BUILD_DIR)/examples/$(DEMO) $(DEMO_ARGS)

# Every executable the bench/ build produces named bench_* (Release, -O2,
# the library with link-time optimisation), with BENCH_ARGS.
bench:
	@if [ ! -f bench/CMakeLists.txt ]; then \
	  echo "make bench: there are no benchmarks (bench/CMakeLists.txt) yet; nothing to run."; \
	else \
	  cmake -S . -B $(BENCH_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DTEMBRA_BUILD_BENCHMARKS=ON \
	    -DTEMBRA_BUILD_TESTS=OFF -DTEMBRA_BUILD_EXAMPLES=OFF $(COMMON_FLAGS) && \
	  cmake --build $(BENCH_BUILD_DIR) -j $(JOBS) && \
	  for exe in $$(find $(BENCH_BUILD_DIR) -type f -name 'bench_*' -perm -u+x | sort); do \
	    echo "== $$exe"; "$$exe" $(BENCH_ARGS) || exit 1; \
	  done; \
	fi

# libFuzzer harnesses (clang): each fuzz_* executable runs FUZZ_RUNS inputs,
# starting from fuzz/corpus/<harness>/ when there is one; what it finds goes
# into the build directory, never into the checked-in corpus.
fuzz:
	@if [ ! -f fuzz/CMakeLists.txt ]; then \
	  echo "make fuzz: there are no fuzz harnesses (fuzz/CMakeLists.txt) yet; nothing to run."; \
	else \
	  cmake -S . -B $(FUZZ_BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	    -DTEMBRA_FUZZ=ON -DTEMBRA_BUILD_TESTS=OFF -DTEMBRA_BUILD_EXAMPLES=OFF $(COMMON_FLAGS) && \
	  cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS) && \
	  for exe in $$(find $(FUZZ_BUILD_DIR) -type f -name 'fuzz_*' -perm -u+x | sort); do \
	    name=$$(basename $$exe); work=$(FUZZ_BUILD_DIR)/corpus/$$name; seeds=; \
	    mkdir -p $$work; if [ -d fuzz/corpus/$$name ]; then seeds=fuzz/corpus/$$name; fi; \
	    echo "== $$name: $(FUZZ_RUNS) runs"; \
	    "$$exe" -runs=$(FUZZ_RUNS) -seed=1 $$work $$seeds || exit 1; \
	  done; \
	fi

install: build
	cmake --install $(BUILD_DIR) $(if $(PREFIX),--prefix $(PREFIX),)

clean:
	rm -rf $(BUILD_DIR) $(I386_BUILD_DIR) $(SANITIZE_BUILD_DIR) $(BENCH_BUILD_DIR) $(FUZZ_BUILD_DIR) build-ci-logs
