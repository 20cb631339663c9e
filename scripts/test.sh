#!/usr/bin/env bash
# Builds docsec and runs every test twice: a plain optimised build, then a build under
# AddressSanitizer + UndefinedBehaviorSanitizer (LeakSanitizer included). Between the two it
# checks that the build works without the tools and that a program builds against an install.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
# The plain build installs with a multiarch library folder (lib/x86_64-linux-gnu on amd64), the
# deepest layout a distribution uses, so that the installed CMake package and pkg-config file
# are tried where a relative path is easiest to get wrong.
multiarch=$(gcc -print-multiarch 2>/dev/null || true)
libdir=lib/${multiarch:-x86_64-linux-gnu}

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DDOCSEC_BUILD_BENCHMARKS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600)
}

# Configures the plain build without the tools and links the benchmarks, which must then leave
# out the part that needs the reference agent. It shares the plain build's folder, so it costs a
# configure and a link; run_suite turns the tools back on.
check_without_tools() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DDOCSEC_BUILD_BENCHMARKS=ON -DDOCSEC_BUILD_TOOLS=OFF "$@" \
    >/dev/null
  cmake --build "$dir" -j "$jobs" --target docsec_bench
}

# Installs the plain build into a temporary /usr-like prefix, then builds and runs the consumer
# program against it twice: through the CMake package and through pkg-config on the command line.
check_consumer() {
  local dir=$1
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  local usr="$tmp/usr"
  cmake --install "$dir" --prefix "$usr" >/dev/null
  cmake -S tests/consumer -B "$tmp/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$usr" >/dev/null
  grep -qxF "docsec_DIR:PATH=$usr/$libdir/cmake/docsec" "$tmp/cmake/CMakeCache.txt" ||
    { echo "the consumer did not find the installed CMake package"; return 1; }
  cmake --build "$tmp/cmake" >/dev/null
  "$tmp/cmake/consumer"
  local pc=(env PKG_CONFIG_PATH="$usr/$libdir/pkgconfig" pkg-config)
  local found_include found_lib
  found_include=$(realpath -m "$("${pc[@]}" --variable=includedir docsec)")
  found_lib=$(realpath -m "$("${pc[@]}" --variable=libdir docsec)")
  if [ "$found_include" != "$(realpath -m "$usr/include")" ] ||
     [ "$found_lib" != "$(realpath -m "$usr/$libdir")" ]; then
    echo "pkg-config gives include folder $found_include and library folder $found_lib"
    return 1
  fi
  # shellcheck disable=SC2046  # the flags are separate words
  "${CXX:-c++}" -std=c++17 tests/consumer/consumer.cc -o "$tmp/consumer-pc" \
    $("${pc[@]}" --cflags --libs docsec) -Wl,-rpath,"$found_lib"
  "$tmp/consumer-pc"
  echo "consumer built and ran through the CMake package and through pkg-config"
}

echo "== format =="
scripts/check_format.sh
echo "== build without the tools =="
check_without_tools build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_LIBDIR="$libdir"
echo "== tests (RelWithDebInfo) =="
run_suite build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOCSEC_BUILD_TOOLS=ON \
  -DCMAKE_INSTALL_LIBDIR="$libdir"
echo "== consumer build against an install =="
check_consumer build-test
echo "== tests (address + undefined behaviour sanitizers) =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DDOCSEC_SANITIZE=ON -DDOCSEC_BUILD_BENCHMARKS=OFF
# Threads share the class-wide catalogues and the reference agent's connection handling: the
# catalogue tests race eight threads on a first load, the agent server's tests run idle, slow and
# bursting connections against its workers. Only those run here: a whole suite under
# ThreadSanitizer would cost too long.
echo "== catalogue and agent server races (thread sanitizer) =="
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDOCSEC_SANITIZE_THREAD=ON \
  -DDOCSEC_BUILD_BENCHMARKS=OFF -DDOCSEC_BUILD_TOOLS=ON >/dev/null
cmake --build build-tsan -j "$jobs" --target policy_test agent_server_test
TSAN_OPTIONS=halt_on_error=1 build-tsan/docsec/policy/policy_test --gtest_filter='Catalogues.*'
TSAN_OPTIONS=halt_on_error=1 build-tsan/tools/agent/agent_server_test
echo "== fuzzing (bounded) =="
scripts/fuzz.sh
# Last: the Windows builds run their tests under Wine, whose programs use this machine's sockets,
# so they must not run beside the suites above.
echo "== Windows (mingw-w64 builds, tests under Wine) =="
scripts/windows_check.sh
