#!/bin/sh
# Builds docsec.dll and svctransport.dll for 32- and 64-bit Windows with mingw-w64 and runs every
# library test program under Wine, printing "N passed, N failed" per architecture.
#
# Usage: scripts/windows_check.sh [i686] [x86_64]     (both when none is named)
# Environment:
#   JOBS=2                 parallel build jobs
#   NICE=0                 niceness of builds and test runs
#   BUILD_ROOT=build-windows
#   DOCSEC_WINDOWS_REQUIRE_ALL=1  fail when an architecture cannot run here (a kernel without
#                          32-bit support cannot run 32-bit Wine); by default it is built, its
#                          tests are reported as not run, and the script goes on.
# Needs root for the first run (apt-get); later runs reuse what is installed and fetched.
set -eu

cd "$(dirname "$0")/.."
SRC=$(pwd)
JOBS=${JOBS:-2}
NICE=${NICE:-0}
BUILD_ROOT=${BUILD_ROOT:-build-windows}
ARCHS=${*:-i686 x86_64}
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
# Whether this kernel runs 32-bit programs at all (some virtual machines do not).
can_run_32() { "$WINE32" --version >/dev/null 2>&1; }
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
    if ! can_run_32; then
      echo "   $arch: tests NOT RUN: this kernel cannot execute 32-bit programs, so 32-bit Wine"
      echo "   cannot start (the programs are built in $bin)"
      summary="$summary
$arch: not run (no 32-bit support in this kernel)"
      if [ "${DOCSEC_WINDOWS_REQUIRE_ALL:-0}" = 1 ]; then total_failed=$((total_failed + 1)); fi
      continue
    fi
    wine=$WINE32
  else
    wine=$WINE64
  fi

  echo "== $arch: tests under Wine"
  passed=0
  failed=0
  failures=""
  for exe in "$bin"/*_test.exe "$bin"/department_console.exe "$bin"/*_replay.exe; do
    [ -f "$exe" ] || continue
    name=$(basename "$exe" .exe)
    log="$build/$name.log"
    args=""
    case $name in
      *_fuzzer_replay) args="$SRC/fuzz/corpus/${name%_fuzzer_replay}" ;;
    esac
    set +e
    (cd "$bin" && WINELOADER=$wine run timeout 900 "$wine" "$exe" $args) >"$log" 2>&1
    status=$?
    set -e
    case $name in
      *_test)
        p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
        f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
        p=${p:-0}
        f=${f:-0}
        if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then
          # Crashed or hung: the program's tests did not all finish.
          f=1
          failures="$failures $name(exit $status)"
        fi
        for t in $(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_/.]*\)\(, where.*\| (.*\)\?$/\1/p' "$log" |
                   sort -u); do
          failures="$failures $t"
        done
        ;;
      *)
        if [ "$status" -eq 0 ]; then p=1; f=0; else p=0; f=1; failures="$failures $name"; fi
        ;;
    esac
    echo "   $name: $p passed, $f failed"
    passed=$((passed + p))
    failed=$((failed + f))
  done
  echo "$arch: $passed passed, $failed failed"
  [ -z "$failures" ] || echo "$arch failures:$failures"
  summary="$summary
$arch: $passed passed, $failed failed"
  total_failed=$((total_failed + failed))
done

echo "== summary (in $(( $(date +%s) - started )) s)$summary"
[ "$total_failed" -eq 0 ]
