#!/usr/bin/env bash
# Builds docsec and runs every test: a plain optimised build, then a build under AddressSanitizer
# + UndefinedBehaviorSanitizer (LeakSanitizer included), the thread races under ThreadSanitizer,
# bounded fuzzing, and the Windows builds with their tests under Wine. Between the first two it
# checks that the build works without the tools, that a program builds against an install and
# that the shared libraries export exactly the symbols listed in abi/.
#
# Every part ends passed, failed or not run with the reason, and the command ends with one line
# a part and the wall time of each. It fails only when a build or a test fails: a part whose
# packages cannot be installed (a package index the mirror cannot serve, say) is not run.
#
# Environment:
#   DOCSEC_TEST_BUDGET_S=1800   the time the whole command aims at; fuzzing shrinks (to 10 s a
#                               harness) when the parts before it used up more than their share
#   FUZZ_SECONDS                a fixed fuzzing time per harness instead
#   DOCSEC_WINDOWS_EMULATED=1   also run the 32-bit Windows tests under qemu's user-mode emulator
#                               where the kernel runs no 32-bit programs (slow; see windows_check.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=parts.sh
. scripts/parts.sh
: >"$DOCSEC_PARTS_FILE"
DOCSEC_APT_STAMP=$(mktemp -u "${TMPDIR:-/tmp}/docsec-apt-XXXXXX")
export DOCSEC_APT_STAMP
trap 'rm -f "$DOCSEC_APT_STAMP"' EXIT
budget=${DOCSEC_TEST_BUDGET_S:-1800}
jobs=$(nproc)
# The plain build installs with a multiarch library folder (lib/x86_64-linux-gnu on amd64), the
# deepest layout a distribution uses, so that the installed CMake package and pkg-config file
# are tried where a relative path is easiest to get wrong.
multiarch=$(gcc -print-multiarch 2>/dev/null || true)
libdir=lib/${multiarch:-x86_64-linux-gnu}

# suite DIR CMAKE-ARGS...: configures, builds and runs the CTest suite of one build.
suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DDOCSEC_BUILD_BENCHMARKS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600)
}

# Configures the plain build without the tools and links the benchmarks, which must then leave
# out the part that needs the reference agent. It shares the plain build's folder, so it costs a
# configure and a link; the suite turns the tools back on.
without_tools() {
  cmake -S . -B build-test -G Ninja -DDOCSEC_BUILD_BENCHMARKS=ON -DDOCSEC_BUILD_TOOLS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_LIBDIR="$libdir" >/dev/null
  cmake --build build-test -j "$jobs" --target docsec_bench
}

# Installs the plain build into a temporary /usr-like prefix, then builds and runs the consumer
# program against it twice: through the CMake package and through pkg-config on the command line;
# and the consumer of the server component when the build has the reference server.
consumer() {
  local tmp
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  local usr="$tmp/usr"
  cmake --install build-test --prefix "$usr" >/dev/null
  cmake -S tests/consumer -B "$tmp/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$usr" >/dev/null
  grep -qxF "docsec_DIR:PATH=$usr/$libdir/cmake/docsec" "$tmp/cmake/CMakeCache.txt" ||
    { echo "the consumer did not find the installed CMake package"; return 1; }
  cmake --build "$tmp/cmake" >/dev/null
  "$tmp/cmake/consumer"
  # With the reference server built, the install carries the server component: a console's test
  # starts the embedded server and logs in through the library.
  if [ -d build-test/tools/server ]; then
    [ -x "$tmp/cmake/consumer_server" ] ||
      { echo "the consumer did not find the installed server component"; return 1; }
    "$tmp/cmake/consumer_server"
    echo "consumer_server logged in to the embedded server and loaded the trees"
  fi
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
  # The installed programs run from their prefix, with no help from the environment.
  local program
  for program in docsec docsec-server docsec-agent; do
    local said
    said=$(env LD_LIBRARY_PATH= "$usr/bin/$program" --version) || said=""
    [[ "$said" =~ ^$program\ [0-9.]+$ ]] ||
      { echo "the installed $program does not run from its prefix: $said"; return 1; }
  done
  echo "the installed programs run from their prefix"
}

sanitized() {
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    suite build-asan -DCMAKE_BUILD_TYPE=Debug -DDOCSEC_SANITIZE=ON -DDOCSEC_BUILD_BENCHMARKS=OFF
}

# Threads share the class-wide catalogues and the reference agent's connection handling: the
# catalogue tests race eight threads on a first load, the agent server's tests run idle, slow and
# bursting connections against its workers. Only those run here: a whole suite under
# ThreadSanitizer would cost too long.
races() {
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDOCSEC_SANITIZE_THREAD=ON \
    -DDOCSEC_BUILD_BENCHMARKS=OFF -DDOCSEC_BUILD_TOOLS=ON >/dev/null
  cmake --build build-tsan -j "$jobs" --target policy_test agent_server_test
  TSAN_OPTIONS=halt_on_error=1 build-tsan/docsec/policy/policy_test --gtest_filter='Catalogues.*'
  TSAN_OPTIONS=halt_on_error=1 build-tsan/tools/agent/agent_server_test
}

# Fuzzing gets 45 s a harness, less when the parts before it took more than their share of the
# budget: 8 minutes are kept for the fuzzers' build and the Windows step after it (measured at
# about 5 with the packages installed).
fuzz_seconds() {
  local left=$((budget - SECONDS - 480))
  local each=$((left / 3))
  [ "$each" -le 45 ] || each=45
  [ "$each" -ge 10 ] || each=10
  echo "$each"
}

if packages build; then
  if packages format; then
    part "format" scripts/check_format.sh
  else
    not_run "format" "clang-format could not be installed: $packages_reason"
  fi
  part "build without the tools" without_tools
  part "tests (RelWithDebInfo)" suite build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDOCSEC_BUILD_TOOLS=ON -DCMAKE_INSTALL_LIBDIR="$libdir"
  if [ "$part_status" -eq 0 ]; then
    part "consumer build against an install" consumer
  else
    not_run "consumer build against an install" "the plain build or its tests failed"
  fi
  part "exported symbols" scripts/check_symbols.sh build-test
  part "tests (address + undefined behaviour sanitizers)" sanitized
  part "races (thread sanitizer)" races
  if packages fuzz; then
    FUZZ_SECONDS=${FUZZ_SECONDS:-$(fuzz_seconds)}
    export FUZZ_SECONDS
    part "fuzzing (bounded)" scripts/fuzz.sh
  else
    not_run "fuzzing (bounded)" "clang could not be installed: $packages_reason"
  fi
else
  for name in "format" "build without the tools" "tests (RelWithDebInfo)" \
              "consumer build against an install" "exported symbols" \
              "tests (address + undefined behaviour sanitizers)" "races (thread sanitizer)" \
              "fuzzing (bounded)"; do
    not_run "$name" "the build's packages could not be installed: $packages_reason"
  done
fi
# Last: the Windows builds run their tests under Wine, whose programs use this machine's sockets,
# so they must not run beside the suites above. The script records its own parts.
echo "== Windows (mingw-w64 builds, tests under Wine) =="
windows_rc=0
scripts/windows_check.sh || windows_rc=$?
if [ "$windows_rc" -ne 0 ] && ! grep -q $'^Windows[^\t]*\tfailed' "$DOCSEC_PARTS_FILE"; then
  part_record "Windows" failed "windows_check.sh exited $windows_rc" 0
fi

parts_summary "$SECONDS"
