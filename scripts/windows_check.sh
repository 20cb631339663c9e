#!/bin/sh
# Builds docsec.dll and svctransport.dll for 32- and 64-bit Windows with mingw-w64 and runs every
# library test program under Wine, printing "N passed, N failed" per architecture.
#
# Usage: scripts/windows_check.sh [x86_64] [i686]     (both when none is named)
# Environment:
#   JOBS=2                 parallel build jobs
#   NICE=0                 niceness of builds and test runs
#   BUILD_ROOT=build-windows
#   DOCSEC_WINDOWS_REQUIRE_ALL=1  fail when an architecture cannot run here; by default it is
#                          built, its tests are reported as not run, and the script goes on.
# Needs root for the first run (apt-get); later runs reuse what is installed and fetched. Where the
# kernel runs no 32-bit programs (some virtual machines), 32-bit Wine runs through Debian's
# user-mode emulator, which the script registers with the kernel for 32-bit x86 programs (root).
set -eu

cd "$(dirname "$0")/.."
SRC=$(pwd)
JOBS=${JOBS:-2}
NICE=${NICE:-0}
BUILD_ROOT=${BUILD_ROOT:-build-windows}
ARCHS=${*:-x86_64 i686}
mkdir -p "$BUILD_ROOT"
BUILD_ROOT=$(cd "$BUILD_ROOT" && pwd)
run() { nice -n "$NICE" "$@"; }
started=$(date +%s)

# ---- packages (Debian's only) ----
need=""
for pkg in g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 wine32:i386 \
           googletest ninja-build cmake dpkg-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need="$need $pkg"
done
if [ -n "$need" ]; then
  echo "== installing:$need"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $need
fi

# ---- pugixml's sources, from Debian's source package (no deb-src line needed system-wide) ----
PUGI="$BUILD_ROOT/src/pugixml"
if [ ! -f "$PUGI/src/pugixml.cpp" ]; then
  echo "== fetching pugixml's Debian source package"
  apt_dir="$BUILD_ROOT/src/apt"
  mkdir -p "$apt_dir/lists/partial"
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
       "http://deb.debian.org/debian $codename main" > "$apt_dir/sources.list"
  apt_opts="-o Dir::Etc::SourceList=$apt_dir/sources.list -o Dir::Etc::SourceParts=/dev/null"
  apt_opts="$apt_opts -o Dir::State::Lists=$apt_dir/lists"
  apt-get $apt_opts update >/dev/null
  (cd "$BUILD_ROOT/src" && apt-get $apt_opts source --download-only pugixml >/dev/null 2>&1)
  rm -rf "$PUGI"
  (cd "$BUILD_ROOT/src" && dpkg-source -x pugixml_*.dsc pugixml >/dev/null)
fi

# ---- Wine ----
export WINEDEBUG=-all
export WINEPREFIX="$BUILD_ROOT/wineprefix"
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
# Whether 32-bit programs run here at all.
can_run_32() { "$WINE32" --version >/dev/null 2>&1; }
# Lets the kernel hand 32-bit x86 programs to qemu's user-mode emulator ("F": the emulator is
# opened now, so it also serves programs started in other mount namespaces). The kernel reads the
# \x escapes of the pattern itself.
emulate_32() {
  if ! command -v qemu-i386-static >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends qemu-user-static \
      >/dev/null || return 1
  fi
  misc=/proc/sys/fs/binfmt_misc
  [ -e "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc" || return 1
  if [ ! -e "$misc/docsec-i386" ]; then
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    printf '%s' ":docsec-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" > "$misc/register" ||
      return 1
  fi
  can_run_32
}
# Whether 32-bit x86 programs go to qemu (which the kernel then prefers even where it could run
# them itself).
runs_emulated_32() {
  for entry in /proc/sys/fs/binfmt_misc/*; do
    grep -qsx enabled "$entry" && grep -qs '^interpreter .*qemu-i386' "$entry" && return 0
  done
  return 1
}
emulated_32=no
case " $ARCHS " in
  *" i686 "*)
    if ! can_run_32; then
      echo "== this kernel runs no 32-bit programs: 32-bit Wine goes through qemu's emulator"
      emulate_32 || emulated_32=failed
    fi
    if [ "$emulated_32" != failed ] && runs_emulated_32; then emulated_32=yes; fi ;;
esac
if [ ! -d "$WINEPREFIX" ]; then
  echo "== creating the Wine prefix"
  WINELOADER=$WINE64 run "$WINE64" wineboot -i >/dev/null 2>&1 || true
fi

total_failed=0
summary=""
for arch in $ARCHS; do
  case $arch in
    i686) gccdir=/usr/lib/gcc/i686-w64-mingw32/12-posix; runtime="libgcc_s_dw2-1.dll" ;;
    x86_64) gccdir=/usr/lib/gcc/x86_64-w64-mingw32/12-posix; runtime="libgcc_s_seh-1.dll" ;;
    *) echo "unknown architecture $arch" >&2; exit 2 ;;
  esac
  build="$BUILD_ROOT/$arch"
  echo "== $arch: configure and build"
  t0=$(date +%s)
  run cmake -S "$SRC" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/toolchains/mingw-$arch.cmake" \
    -DDOCSEC_PUGIXML_SOURCE_DIR="$PUGI" -DDOCSEC_BUILD_TOOLS=OFF \
    -DDOCSEC_BUILD_BENCHMARKS=OFF >/dev/null
  run ninja -C "$build" -j "$JOBS"
  bin="$build/bin"
  # The compiler's runtime DLLs go beside the programs (see cmake/windows.cmake).
  cp "$gccdir/libstdc++-6.dll" "$gccdir/$runtime" "/usr/$arch-w64-mingw32/lib/libwinpthread-1.dll" \
     "$bin/"
  echo "   built in $(( $(date +%s) - t0 )) s"

  # svctransport keeps its entry points at ordinals 1 and 2.
  exports=$("$arch-w64-mingw32-objdump" -p "$bin/svctransport.dll")
  for pair in "1 16SvcTransportSendERK" "2 18SvcTransportSendExERK"; do
    ordinal=${pair%% *}
    name=${pair#* }
    rva=$(echo "$exports" | awk -v o="$ordinal" '/Export Address Table/ {t=1; next}
      t && $0 ~ "\\+base\\[ *" o "\\]" {print $5; exit}')
    sym=$("$arch-w64-mingw32-nm" "$bin/svctransport.dll" | awk -v n="$name" '$0 ~ n {print $1; exit}')
    base=$(echo "$exports" | awk '/^ImageBase/ {print $2; exit}')
    if [ -z "$rva" ] || [ -z "$sym" ] ||
       [ $(( 0x$sym - 0x$base )) -ne $(( 0x$rva )) ]; then
      echo "   svctransport.dll: ordinal $ordinal is not $name" >&2
      exit 1
    fi
  done
  echo "   svctransport.dll exports SvcTransportSend at 1, SvcTransportSendEx at 2"

  if [ "$arch" = i686 ]; then
    if [ "$emulated_32" = failed ]; then
      echo "   $arch: tests NOT RUN: this kernel runs no 32-bit programs and the emulator could"
      echo "   not be registered (needs root and binfmt_misc); the programs are built in $bin"
      summary="$summary
$arch: not run (no 32-bit support in this kernel, no emulator)"
      if [ "${DOCSEC_WINDOWS_REQUIRE_ALL:-0}" = 1 ]; then total_failed=$((total_failed + 1)); fi
      continue
    fi
    wine=$WINE32
  else
    wine=$WINE64
  fi

  echo "== $arch: tests under Wine"
  emulated=no
  [ "$arch" != i686 ] || [ "$emulated_32" != yes ] || emulated=yes
  passed=0
  failed=0
  failures=""
  unrun=""
  # Under the emulator a crash can also leave Wine hanging, and every start costs about 40 s: runs
  # get a shorter time-out, and the architecture a time budget after which the programs not yet
  # started are named as not run rather than holding up the whole check.
  limit=900
  budget_end=0
  if [ "$emulated" = yes ]; then
    limit=240
    budget_end=$(( $(date +%s) + ${DOCSEC_EMULATED_BUDGET_S:-2100} ))
  fi
  for exe in "$bin"/department_console.exe "$bin"/*_test.exe "$bin"/*_replay.exe; do
    [ -f "$exe" ] || continue
    name=$(basename "$exe" .exe)
    log="$build/$name.log"
    if [ "$budget_end" -gt 0 ] && [ "$(date +%s)" -gt "$budget_end" ]; then
      echo "   $name: not run (the emulator's time budget is spent)"
      unrun="$unrun $name"
      continue
    fi
    args=""
    case $name in
      *_fuzzer_replay) args="$SRC/fuzz/corpus/${name%_fuzzer_replay}" ;;
    esac
    case $name in
      *_test)
        # Under the emulator, a test that starts threads can bring 32-bit Wine down (qemu's
        # user-mode emulation does not carry Wine's threads reliably: a bare program that starts
        # two threads crashes there too). The program then goes on after that test, and the test
        # is named as not run here; natively every crash is a failure.
        : >"$log"
        done_tests=""
        p=0
        f=0
        while :; do
          filter=""
          [ -z "$done_tests" ] || filter="--gtest_filter=-$(echo $done_tests | tr ' ' ':')"
          set +e
          (cd "$bin" && WINELOADER=$wine run timeout "$limit" "$wine" "$exe" $filter) >"$log.run" 2>&1
          status=$?
          set -e
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
          # The test that was running when the program died, unless it had finished (lines end
          # in CR LF, as Windows programs write them).
          crashed=$(sed -n 's/^\[ RUN      \] \([A-Za-z0-9_/.]*\).*/\1/p' "$log.run" | tail -1)
          if [ -n "$crashed" ] &&
             grep -q "^\[ *\(OK\|FAILED\|SKIPPED\) *\] $crashed (" "$log.run"; then
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
        ;;
      *)
        set +e
        (cd "$bin" && WINELOADER=$wine run timeout "$limit" "$wine" "$exe" $args) >"$log" 2>&1
        status=$?
        set -e
        if [ "$status" -eq 0 ]; then p=1; f=0; else p=0; f=1; failures="$failures $name"; fi
        ;;
    esac
    echo "   $name: $p passed, $f failed"
    passed=$((passed + p))
    failed=$((failed + f))
  done
  [ "$emulated" = no ] || arch="$arch (emulated)"
  line="$arch: $passed passed, $failed failed"
  if [ -n "$unrun" ]; then
    line="$line, $(echo $unrun | wc -w) not run under the emulator (threads, time):$unrun"
  fi
  echo "$line"
  [ -z "$failures" ] || echo "$arch failures:$failures"
  summary="$summary
$line"
  total_failed=$((total_failed + failed))
done

echo "== summary (in $(( $(date +%s) - started )) s)$summary"
[ "$total_failed" -eq 0 ]
