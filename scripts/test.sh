#!/usr/bin/env bash
# Builds docsec and runs every test twice: a plain optimised build, then a build under
# AddressSanitizer + UndefinedBehaviorSanitizer (LeakSanitizer included).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DDOCSEC_BUILD_BENCHMARKS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600)
}

echo "== tests (RelWithDebInfo) =="
run_suite build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== tests (address + undefined behaviour sanitizers) =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DDOCSEC_SANITIZE=ON -DDOCSEC_BUILD_BENCHMARKS=OFF
echo "== fuzzing (bounded) =="
scripts/fuzz.sh
