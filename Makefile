# The README's commands: thin wrappers over cmake and ctest. Each
# configuration has a build directory of its own, so they can coexist.
#   make test            native Release build, all tests
#   make test-i386       i386 cross build (-m32 -msse2 -mfpmath=sse), tests under qemu-i386
#   make test-sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build, all tests
#   make demo            build and run the demonstration example
#   make plot            run the demonstration example and draw its learning curve
#                        into learning-curve.png (needs gnuplot)
#   make bench           build and run the benchmarks
#   make install PREFIX=/some/prefix
#   make format         apply .clang-format to the library, tools, examples and fuzz harnesses
#   make format-check   fail when one of them is not formatted
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
PLOT_DIR ?= $(BUILD_DIR)/plot
# What learning_curve.gp is told for each demonstration (gnuplot -e).
PLOT_SETTINGS_cliff_walking = ymin=-100; window=20
PLOT_SETTINGS_mountain_car = ymin=-600; window=5
PLOT_SETTINGS ?= $(PLOT_SETTINGS_$(DEMO))
# Extra arguments for every benchmark program, e.g.
#   make bench BENCH_ARGS='--benchmark_filter=TableSarsa --benchmark_repetitions=9'
BENCH_ARGS ?=

COMMON_FLAGS = $(if $(WERROR),-DTEMBRA_WERROR=$(WERROR)) $(CMAKE_FLAGS)
CTEST = ctest --output-on-failure -j $(JOBS) --test-dir

.PHONY: all configure build test test-i386 test-sanitize demo plot bench fuzz install format format-check clean

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

# The demonstration's learning curve: the example runs once in $(PLOT_DIR)
# with --csv, and examples/learning_curve.gp draws every curve it wrote
# (one line each) into learning-curve.png at the repository root.
plot:
	@command -v gnuplot >/dev/null || { echo "make plot: gnuplot is not installed (Debian: apt-get install gnuplot-nox)" >&2; exit 1; }
	@if [ ! -e examples/$(DEMO).cpp ]; then echo "make plot: there is no example examples/$(DEMO) yet" >&2; exit 1; fi
	@$(MAKE) --no-print-directory configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target $(DEMO)
	rm -rf $(PLOT_DIR) && mkdir -p $(PLOT_DIR)
	exe=$$(find $(BUILD_DIR) -type f -name $(DEMO) -perm -u+x | head -n 1) && \
	  case $$exe in /*) ;; *) exe=$(CURDIR)/$$exe ;; esac && \
	  echo "make plot: running $$exe --csv $(PLOT_DIR)/$(DEMO).csv" && \
	  cd $(PLOT_DIR) && "$$exe" --csv $(DEMO).csv > $(DEMO).out
	gnuplot -e 'plot_title="$(DEMO)"; $(PLOT_SETTINGS)' -c examples/learning_curve.gp learning-curve.png $(PLOT_DIR)
	@echo "make plot: wrote learning-curve.png"

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

# libFuzzer harnesses (clang), built and run by fuzz/run.sh: each runs
# FUZZ_RUNS inputs from a copy of fuzz/corpus/<harness>/.
fuzz:
	TEMBRA_FUZZ_RUNS=$(FUZZ_RUNS) TEMBRA_FUZZ_BUILD_DIR=$(FUZZ_BUILD_DIR) \
	  TEMBRA_FUZZ_CMAKE_FLAGS="$(COMMON_FLAGS)" fuzz/run.sh

# Tests and benchmarks keep their hand-laid tables and are left out; the
# Python bindings are in.
FORMAT_FILES = $(wildcard include/tembra/*.h src/*/*.h src/*/*.cpp tools/*.h tools/*.cpp tools/*/*.h tools/*/*.cpp \
                 examples/*.h examples/*.cpp fuzz/*.h fuzz/*.cpp python/src/*.h python/src/*.cpp)
CLANG_FORMAT ?= clang-format

format:
	$(CLANG_FORMAT) -i $(FORMAT_FILES)

format-check:
	@$(CLANG_FORMAT) --dry-run --Werror $(FORMAT_FILES) && echo "make format-check: $(words $(FORMAT_FILES)) files formatted as .clang-format says"

install: build
	cmake --install $(BUILD_DIR) $(if $(PREFIX),--prefix $(PREFIX),)

clean:
	rm -rf $(BUILD_DIR) $(I386_BUILD_DIR) $(SANITIZE_BUILD_DIR) $(BENCH_BUILD_DIR) $(FUZZ_BUILD_DIR) build-ci-logs
