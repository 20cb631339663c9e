#!/usr/bin/env bash
# Builds docsec in release mode, installs it (library, headers, CMake package, pkg-config file,
# docsec-agent, the docsec console) under PREFIX (default /usr/local) and runs the benchmarks
# against their baselines.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
prefix=${PREFIX:-/usr/local}
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DDOCSEC_BUILD_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build build-release -j "$(nproc)"
cmake --install build-release >/dev/null
ldconfig 2>/dev/null || true
echo "installed docsec under $prefix"
build-release/bench/docsec_bench --benchmark_counters_tabular=true "$@"
