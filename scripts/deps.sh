#!/usr/bin/env bash
# Installs the Debian packages of the named groups; quick when they are already present.
#
# Usage: scripts/deps.sh [GROUP...]      (build when none is named)
#   build     what the library, its tools, tests and benchmarks need
#   format    clang-format for the format check
#   fuzz      clang and its libFuzzer runtime
#   mingw     the mingw-w64 compilers, GoogleTest's sources, dpkg-source (Windows builds)
#   wine64    64-bit Wine
#   wine32    32-bit Wine (adds the i386 architecture)
#   emulator  qemu's user-mode emulator, for 32-bit programs on kernels that run none
#
# A package index that cannot be fetched (a mirror in the middle of a sync, say) is retried a
# few times and then left out: what can be installed from the indexes that are there is
# installed. Exits 0 when every package of the groups is installed, 1 when some could not be,
# with apt's last error on stderr (the callers then report that part as not run).
set -uo pipefail

declare -A groups=(
  [build]="g++ cmake ninja-build pkg-config libpugixml-dev libssl-dev libgtest-dev libgmock-dev
           libbenchmark-dev libsqlite3-dev libcurl4-openssl-dev libcpp-httplib-dev openssl
           libcli11-dev nlohmann-json3-dev"
  [format]="clang-format"
  [fuzz]="clang libclang-rt-14-dev"
  [mingw]="g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest dpkg-dev"
  [wine64]="wine64"
  [wine32]="wine32:i386"
  [emulator]="qemu-user-static"
)
update_tries=${DOCSEC_APT_UPDATE_TRIES:-3}
update_pause=${DOCSEC_APT_UPDATE_PAUSE_S:-20}

installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]; }

[ $# -gt 0 ] || set -- build
missing=()
for group in "$@"; do
  [ -n "${groups[$group]+set}" ] || { echo "deps.sh: unknown group $group" >&2; exit 2; }
  for p in ${groups[$group]}; do
    installed "$p" || missing+=("$p")
  done
done
[ ${#missing[@]} -gt 0 ] || exit 0

export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# One check calls this for several groups: DOCSEC_APT_STAMP names a file that says the indexes
# were already refreshed during it, unless an architecture is added now.
stamp=${DOCSEC_APT_STAMP:-}
for p in "${missing[@]}"; do
  case $p in
    *:i386)
      if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        stamp=""
      fi ;;
  esac
done
echo "installing: ${missing[*]}"

# apt-get update fails as a whole when one index fails, yet it has refreshed every index it could
# fetch: after the last try the install goes on with what is there.
if [ -z "$stamp" ] || [ ! -e "$stamp" ]; then
  for try in $(seq 1 "$update_tries"); do
    if apt-get update -qq >"$log" 2>&1; then break; fi
    echo "apt-get update failed (try $try of $update_tries):"
    grep -E '^(E|W):' "$log" | head -n 5
    if [ "$try" -lt "$update_tries" ]; then sleep "$update_pause"; fi
  done
  [ -z "${DOCSEC_APT_STAMP:-}" ] || touch "$DOCSEC_APT_STAMP"
fi

install() { apt-get install -y -qq --no-install-recommends "$@" >"$log" 2>&1; }
if ! install "${missing[@]}"; then
  # One package that cannot be had must not keep out the others: take them one by one.
  for p in "${missing[@]}"; do
    install "$p" || { echo "cannot install $p:"; grep -E '^E:' "$log" | head -n 3; } >&2
  done
fi
failed=()
for p in "${missing[@]}"; do
  installed "$p" || failed+=("$p")
done
if [ ${#failed[@]} -gt 0 ]; then
  reason=$(grep -E '^E:' "$log" | tail -n 1)
  echo "not installed: ${failed[*]}${reason:+ ($reason)}" >&2
  exit 1
fi
