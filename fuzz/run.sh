#!/usr/bin/env bash
# Builds every libFuzzer harness fuzz/fuzz_<name>.cpp with clang into its
# own build directory and runs each for a fixed number of inputs, starting
# from the seeds in fuzz/corpus/fuzz_<name>/ (copied, so the committed
# corpus stays as it is). Exits non-zero when a harness crashes, leaks,
# allocates beyond the limit or trips a sanitizer.
#
#   fuzz/run.sh [harness ...]        default: all harnesses
#   TEMBRA_FUZZ_RUNS=20000           inputs per harness
#   TEMBRA_FUZZ_BUILD_DIR=build-fuzz build directory (relative to the root)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
build="${TEMBRA_FUZZ_BUILD_DIR:-build-fuzz}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
runs="${TEMBRA_FUZZ_RUNS:-20000}"

command -v clang++ >/dev/null || { echo "fuzz/run.sh: clang++ not found" >&2; exit 2; }

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTEMBRA_FUZZ=ON \
      -DTEMBRA_BUILD_TESTS=OFF -DTEMBRA_BUILD_EXAMPLES=OFF -DTEMBRA_INSTALL=OFF \
      ${TEMBRA_FUZZ_CMAKE_FLAGS:-} >/dev/null
cmake --build "$build" -j 2

if [ "$#" -gt 0 ]; then
  harnesses=("$@")
else
  harnesses=()
  for source in "$here"/fuzz_*.cpp; do harnesses+=("$(basename "$source" .cpp)"); done
fi

# The harnesses write every input to a temporary file; keep those in memory.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

status=0
for name in "${harnesses[@]}"; do
  work="$build/fuzz-runs/$name"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  if [ -d "$here/corpus/$name" ]; then cp -R "$here/corpus/$name/." "$work/corpus/"; fi
  echo "== $name: $runs runs"
  # Inputs are small files; a reader that allocates more than 64 MiB for
  # one of them trusted a count it should not have.
  if (cd "$work" && "$build/fuzz/$name" -runs="$runs" -seed=1 -max_len=4096 -timeout=10 \
        -rss_limit_mb=2048 -malloc_limit_mb=64 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log.txt" 2>&1); then
    grep -E '^(Done|stat::number_of_executed_units)' "$work/log.txt" || true
  else
    echo "FAILED: $name (log: $work/log.txt, reproducer in $work/artifacts/)"
    grep -E 'ERROR|SUMMARY|property violated|==[0-9]+==' "$work/log.txt" | head -20 || true
    status=1
  fi
done
exit $status
