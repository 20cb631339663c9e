#!/usr/bin/env bash
# Builds docsec.dll and svctransport.dll for 64- and 32-bit Windows with mingw-w64, checks that
# svctransport keeps its entry points at ordinals 1 and 2, and runs the library's test programs
# under Wine, printing "N passed, N failed" per architecture.
#
# Usage: scripts/windows_check.sh [x86_64] [i686]     (both when none is named)
#
# Both architectures are always built. The x86_64 tests run under 64-bit Wine. The i686 tests run
# where this machine runs 32-bit programs itself; elsewhere they are not run, unless
# DOCSEC_WINDOWS_EMULATED=1 asks for them under qemu's user-mode emulator, which is slow (each
# program start costs about 40 s) and brings down tests that start threads (those are named as
# not run). Packages that cannot be installed make their part not run, never a failure.
#
# Environment:
#   JOBS=$(nproc)          parallel build jobs
#   NICE=0                 niceness of builds and test runs
#   BUILD_ROOT=build-windows
#   DOCSEC_WINDOWS_EMULATED=1      run the i686 tests under the emulator where needed (root:
#                          registers it with binfmt_misc)
#   DOCSEC_EMULATED_BUDGET_S=2100  the emulated run's time budget
# Each part's outcome goes to DOCSEC_PARTS_FILE when the test command runs this (see parts.sh).
# Needs root the first time (apt-get); later runs reuse what is installed and fetched.
set -euo pipefail

cd "$(dirname "$0")/.."
SRC=$(pwd)
# Run on its own, the script prints its own summary of parts; under the test command, that one's.
own_summary=no
[ -n "${DOCSEC_PARTS_FILE:-}" ] || own_summary=yes
# shellcheck source=parts.sh
. scripts/parts.sh
JOBS=${JOBS:-$(nproc)}
NICE=${NICE:-0}
BUILD_ROOT=${BUILD_ROOT:-build-windows}
ARCHS=${*:-x86_64 i686}
mkdir -p "$BUILD_ROOT"
BUILD_ROOT=$(cd "$BUILD_ROOT" && pwd)
run() { nice -n "$NICE" "$@"; }
started=$SECONDS

# ---- 32-bit programs: natively, through the emulator, or not at all ----
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
# The smallest 32-bit x86 Linux program: one loadable segment whose code calls exit(0) through
# int 0x80. It runs where the kernel runs 32-bit programs (or hands them to an emulator).
elf32_exits_0() {
  local f
  f=$(mktemp "${TMPDIR:-/tmp}/docsec-elf32-XXXXXX")
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$f"
  printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$f"
  printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000' >>"$f"
  printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' >>"$f"
  printf '\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000' >>"$f"
  printf '\270\001\000\000\000\061\333\315\200' >>"$f"
  chmod +x "$f"
  local rc=0
  "$f" 2>/dev/null || rc=$?
  rm -f "$f"
  return "$rc"
}
# Whether 32-bit x86 programs go to qemu (which the kernel then prefers even where it could run
# them itself).
runs_emulated_32() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    grep -qsx enabled "$entry" && grep -qs '^interpreter .*qemu-i386' "$entry" && return 0
  done
  return 1
}
# Lets the kernel hand 32-bit x86 programs to qemu's user-mode emulator ("F": the emulator is
# opened now, so it also serves programs started in other mount namespaces). The kernel reads the
# \x escapes of the pattern itself.
register_emulator() {
  local misc=/proc/sys/fs/binfmt_misc magic mask
  [ -e "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc" || return 1
  if [ ! -e "$misc/docsec-i386" ]; then
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    printf '%s' ":docsec-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" >"$misc/register" ||
      return 1
  fi
}

# How the i686 tests can run here: "native", "emulated", or not (mode32_reason says why).
mode32=""
mode32_reason=""
decide_32() {
  if runs_emulated_32; then
    if [ "${DOCSEC_WINDOWS_EMULATED:-0}" = 1 ]; then mode32=emulated; return; fi
    mode32_reason="32-bit programs here go to qemu's emulator (slow, and threads crash under it);"
    mode32_reason="$mode32_reason DOCSEC_WINDOWS_EMULATED=1 runs them"
  elif elf32_exits_0; then
    mode32=native
  elif [ "${DOCSEC_WINDOWS_EMULATED:-0}" = 1 ]; then
    if ! packages emulator; then
      mode32_reason="qemu-user-static could not be installed: $packages_reason"
    elif ! register_emulator; then
      mode32_reason="this kernel runs no 32-bit programs and qemu's emulator could not be"
      mode32_reason="$mode32_reason registered (needs root and binfmt_misc)"
    else
      mode32=emulated
    fi
  else
    mode32_reason="this kernel runs no 32-bit programs (DOCSEC_WINDOWS_EMULATED=1 runs them"
    mode32_reason="$mode32_reason under qemu's emulator, slowly)"
  fi
}

# ---- pugixml's sources, from Debian's source package ----
# The source entries are this machine's own apt entries turned into deb-src ones, in a private
# apt state: the project names no package host and follows whatever mirror the machine uses.
PUGI="$BUILD_ROOT/src/pugixml"
fetch_pugixml() {
  [ ! -f "$PUGI/src/pugixml.cpp" ] || return 0
  echo "== fetching pugixml's Debian source package"
  local apt_dir="$BUILD_ROOT/src/apt" f
  rm -rf "$apt_dir"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/sources.list.d"
  : >"$apt_dir/sources.list"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$apt_dir/sources.list"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/sources.list.d/$(basename "$f")"
  done
  local opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list"
              -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
              -o "Dir::State::Lists=$apt_dir/lists")
  # An index that fails (a source entry of another vendor without sources, say) is no matter
  # while one of them has pugixml.
  apt-get "${opts[@]}" update >"$apt_dir/update.log" 2>&1 || true
  if ! (cd "$BUILD_ROOT/src" && apt-get "${opts[@]}" source --download-only pugixml \
          >"$apt_dir/source.log" 2>&1); then
    grep -E '^(E|W):' "$apt_dir/update.log" "$apt_dir/source.log" | tail -n 3 >&2
    return 1
  fi
  rm -rf "$PUGI"
  (cd "$BUILD_ROOT/src" && dpkg-source -x pugixml_*.dsc pugixml >/dev/null)
}

# build ARCH TESTS: configures and builds one architecture (with its tests when TESTS is ON) and
# checks svctransport's ordinals.
build() {
  local arch=$1 tests=$2 gccdir runtime
  case $arch in
    i686) gccdir=/usr/lib/gcc/i686-w64-mingw32/12-posix; runtime="libgcc_s_dw2-1.dll" ;;
    x86_64) gccdir=/usr/lib/gcc/x86_64-w64-mingw32/12-posix; runtime="libgcc_s_seh-1.dll" ;;
  esac
  local build="$BUILD_ROOT/$arch"
  run cmake -S "$SRC" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/toolchains/mingw-$arch.cmake" \
    -DDOCSEC_PUGIXML_SOURCE_DIR="$PUGI" -DDOCSEC_BUILD_TOOLS=OFF \
    -DDOCSEC_BUILD_TESTS="$tests" -DDOCSEC_BUILD_BENCHMARKS=OFF >/dev/null
  run ninja -C "$build" -j "$JOBS"
  local bin="$build/bin"
  # The compiler's runtime DLLs go beside the programs (see cmake/windows.cmake).
  cp "$gccdir/libstdc++-6.dll" "$gccdir/$runtime" "/usr/$arch-w64-mingw32/lib/libwinpthread-1.dll" \
     "$bin/"

  # svctransport keeps its entry points at ordinals 1 and 2.
  # awk reads here-strings, not pipes: it stops at its first match, and a writer still writing
  # into a closed pipe would fail the check (pipefail).
  local exports symbols pair ordinal name rva sym base
  exports=$("$arch-w64-mingw32-objdump" -p "$bin/svctransport.dll")
  symbols=$("$arch-w64-mingw32-nm" "$bin/svctransport.dll")
  base=$(awk '/^ImageBase/ {print $2; exit}' <<<"$exports")
  for pair in "1 16SvcTransportSendERK" "2 18SvcTransportSendExERK"; do
    ordinal=${pair%% *}
    name=${pair#* }
    rva=$(awk -v o="$ordinal" '/Export Address Table/ {t=1; next}
      t && $0 ~ "\\+base\\[ *" o "\\]" {print $5; exit}' <<<"$exports")
    sym=$(awk -v n="$name" '$0 ~ n {print $1; exit}' <<<"$symbols")
    if [ -z "$rva" ] || [ -z "$sym" ] || [ $((0x$sym - 0x$base)) -ne $((0x$rva)) ]; then
      echo "   svctransport.dll: ordinal $ordinal is not $name" >&2
      return 1
    fi
  done
  echo "   svctransport.dll exports SvcTransportSend at 1, SvcTransportSendEx at 2"
}

# run_gtest WINE EXE LOG LIMIT EMULATED: runs one test program; sets p, f, failures and unrun.
# Under the emulator, a test that starts threads can bring 32-bit Wine down (qemu's user-mode
# emulation does not carry Wine's threads reliably: a bare program that starts two threads
# crashes there too). The program then goes on after that test, and the test is named as not
# run; natively every crash is a failure.
run_gtest() {
  local wine=$1 exe=$2 log=$3 limit=$4 emulated=$5 name bin done_tests="" filter status
  local run_failed t crashed
  name=$(basename "$exe" .exe)
  bin=$(dirname "$exe")
  : >"$log"
  p=0
  f=0
  while :; do
    filter=""
    [ -z "$done_tests" ] || filter="--gtest_filter=-$(echo $done_tests | tr ' ' ':')"
    status=0
    (cd "$bin" && WINELOADER=$wine run timeout "$limit" "$wine" "$exe" $filter) >"$log.run" 2>&1 ||
      status=$?
    cat "$log.run" >>"$log"
    p=$((p + $(grep -c '^\[       OK \] ' "$log.run" || true)))
    run_failed=$(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_/.]*\)\(, where.*\| (.*\)$/\1/p' \
                 "$log.run" | sort -u)
    for t in $run_failed; do
      f=$((f + 1))
      failures="$failures $t"
    done
    if grep -q '^\[==========\] .* ran\.' "$log.run"; then
      if [ "$status" -ne 0 ] && [ -z "$run_failed" ]; then  # died on the way out
        if [ "$emulated" = yes ]; then
          echo "   $name: every test ended; the emulator crashed at exit (threads ending)"
        else
          f=$((f + 1))
          failures="$failures $name(exit $status)"
        fi
      fi
      break
    fi
    # The test that was running when the program died, unless it had finished (lines end in
    # CR LF, as Windows programs write them).
    crashed=$(sed -n 's/^\[ RUN      \] \([A-Za-z0-9_/.]*\).*/\1/p' "$log.run" | tail -1)
    if [ -n "$crashed" ] && grep -q "^\[ *\(OK\|FAILED\|SKIPPED\) *\] $crashed (" "$log.run"; then
      crashed=""
    fi
    if [ "$emulated" != yes ] || [ -z "$crashed" ]; then
      # Crashed or hung: the program's tests did not all finish.
      f=$((f + 1))
      failures="$failures $name(exit $status)"
      break
    fi
    unrun="$unrun $crashed"
    done_tests="$done_tests $crashed $(sed -n \
      's/^\[ *\(OK\|FAILED\|SKIPPED\) *\] \([A-Za-z0-9_/.]*\) (.*/\2/p' "$log.run")"
  done
  rm -f "$log.run"
}

# tests ARCH WINE EMULATED: runs the example console, every test program and the fuzz corpus
# replays of one architecture under Wine.
tests() {
  local arch=$1 wine=$2 emulated=$3 bin="$BUILD_ROOT/$1/bin" exe name log args status
  local passed=0 failed=0 limit=900 budget_end=0
  failures=""
  unrun=""
  # One prefix serves both architectures: made by 64-bit Wine where it is installed, it runs
  # 32-bit programs too.
  export WINEDEBUG=-all WINEPREFIX="$BUILD_ROOT/wineprefix"
  if [ ! -d "$WINEPREFIX" ]; then
    echo "   creating the Wine prefix"
    local maker=$wine
    [ ! -x "$WINE64" ] || maker=$WINE64
    WINELOADER=$maker run "$maker" wineboot -i >/dev/null 2>&1 || true
  fi
  # Under the emulator a crash can also leave Wine hanging, and every start costs about 40 s: runs
  # get a shorter time-out, and the architecture a time budget after which the programs not yet
  # started are named as not run rather than holding up the whole check.
  if [ "$emulated" = yes ]; then
    limit=240
    budget_end=$(($(date +%s) + ${DOCSEC_EMULATED_BUDGET_S:-2100}))
  fi
  for exe in "$bin"/department_console.exe "$bin"/*_test.exe "$bin"/*_replay.exe; do
    [ -f "$exe" ] || continue
    name=$(basename "$exe" .exe)
    log="$BUILD_ROOT/$arch/$name.log"
    if [ "$budget_end" -gt 0 ] && [ "$(date +%s)" -gt "$budget_end" ]; then
      echo "   $name: not run (the emulator's time budget is spent)"
      unrun="$unrun $name"
      continue
    fi
    case $name in
      *_test) run_gtest "$wine" "$exe" "$log" "$limit" "$emulated" ;;
      *)
        args=""
        case $name in *_fuzzer_replay) args="$SRC/fuzz/corpus/${name%_fuzzer_replay}" ;; esac
        status=0
        (cd "$bin" && WINELOADER=$wine run timeout "$limit" "$wine" "$exe" $args) >"$log" 2>&1 ||
          status=$?
        if [ "$status" -eq 0 ]; then p=1; f=0; else p=0; f=1; failures="$failures $name"; fi
        ;;
    esac
    echo "   $name: $p passed, $f failed"
    passed=$((passed + p))
    failed=$((failed + f))
  done
  local line=$arch
  [ "$emulated" != yes ] || line="$arch (emulated)"
  line="$line: $passed passed, $failed failed"
  [ -z "$unrun" ] || line="$line, $(echo $unrun | wc -w) not run under the emulator:$unrun"
  echo "$line"
  [ -z "$failures" ] || echo "$arch failures:$failures"
  [ "$failed" -eq 0 ]
}

# ---- the parts ----
have_mingw=yes
packages mingw || have_mingw="the mingw-w64 compilers could not be installed: $packages_reason"
have_wine64=yes
packages wine64 || have_wine64="wine64 could not be installed: $packages_reason"
if [ "$have_mingw" = yes ] && ! fetch_pugixml; then
  have_mingw="pugixml's source package could not be fetched with this machine's apt sources"
fi
case " $ARCHS " in *" i686 "*) decide_32 ;; esac
if [ "$mode32" = native ] && ! packages wine32; then
  mode32=""
  mode32_reason="wine32 could not be installed: $packages_reason"
fi
if [ "$mode32" = emulated ] && ! packages wine32; then
  mode32=""
  mode32_reason="wine32 could not be installed: $packages_reason"
fi

failed_parts=0
for arch in $ARCHS; do
  case $arch in
    x86_64) run_tests=$have_wine64; wine=$WINE64; emulated=no ;;
    i686)
      run_tests=${mode32:+yes}
      run_tests=${run_tests:-$mode32_reason}
      wine=$WINE32
      emulated=no
      [ "$mode32" != emulated ] || emulated=yes ;;
    *) echo "unknown architecture $arch" >&2; exit 2 ;;
  esac
  if [ "$have_mingw" != yes ]; then
    not_run "Windows $arch build" "$have_mingw"
    not_run "Windows $arch tests under Wine" "$have_mingw"
    continue
  fi
  with_tests=OFF
  [ "$run_tests" != yes ] || with_tests=ON
  part "Windows $arch build" build "$arch" "$with_tests"
  if [ "$part_status" -ne 0 ]; then
    failed_parts=$((failed_parts + 1))
    not_run "Windows $arch tests under Wine" "the build failed"
    continue
  fi
  if [ "$run_tests" != yes ]; then
    not_run "Windows $arch tests under Wine" "$run_tests"
    continue
  fi
  part "Windows $arch tests under Wine" tests "$arch" "$wine" "$emulated"
  [ "$part_status" -eq 0 ] || failed_parts=$((failed_parts + 1))
done

echo "== Windows step done in $((SECONDS - started)) s"
if [ "$own_summary" = yes ]; then
  parts_summary "$((SECONDS - started))" || true
  rm -f "$DOCSEC_PARTS_FILE"
fi
[ "$failed_parts" -eq 0 ]
