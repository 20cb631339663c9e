#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang (under AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, starting from a copy of its stored
# corpus with its dictionary. Prints each harness's executions per second and the corpus size it
# reached; an input that makes a harness fail is kept under build-fuzz/findings/ and fails the
# script. FUZZ_SECONDS sets the time per harness (default 45).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build fuzz
seconds=${FUZZ_SECONDS:-45}
harnesses=(server_answer agent_packet agent_command)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDOCSEC_BUILD_FUZZERS=ON -DDOCSEC_SANITIZE=ON -DDOCSEC_BUILD_TESTS=OFF \
  -DDOCSEC_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${harnesses[@]/%/_fuzzer}"

work=$(mktemp -d "${TMPDIR:-/tmp}/docsec-fuzz-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p build-fuzz/findings
for name in "${harnesses[@]}"; do
  mkdir "$work/$name"
  cp fuzz/corpus/"$name"/* "$work/$name/"
  rc=0
  build-fuzz/fuzz/"${name}_fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=30 \
    -dict=fuzz/"${name}_fuzzer.dict" -artifact_prefix=build-fuzz/findings/"$name"- \
    -print_final_stats=1 "$work/$name" >"$work/$name.log" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    tail -n 60 "$work/$name.log"
    echo "fuzz: $name failed (exit $rc); the input is in build-fuzz/findings/"
    exit 1
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$name.log")
  echo "fuzz: $name: $execs runs in ${seconds} s ($rate/s), corpus $(ls "$work/$name" | wc -l)" \
    "inputs (from $(ls fuzz/corpus/"$name" | wc -l) stored)"
done
