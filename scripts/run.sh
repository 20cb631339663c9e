#!/usr/bin/env bash
# The main job: builds the docsec console (release) and runs its guided demo, an embedded server
# with the demo organisation and three reference agents on loopback addresses, toured through the
# console's own commands. Arguments go to `docsec demo` (e.g. --keep DIR).
# scripts/bench.sh builds, installs and runs the benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
echo "building the docsec console (the first build takes a few minutes)..."
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DDOCSEC_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target docsec-cli >build-release/build.log 2>&1 ||
  { tail -n 40 build-release/build.log; exit 1; }
exec build-release/tools/cli/docsec demo "$@"
