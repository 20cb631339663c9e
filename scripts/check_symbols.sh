#!/usr/bin/env bash
# Compares the symbols each shared library exports with the list kept in abi/, so that a change
# of the installed surface is a reviewed change of a file rather than an accident of visibility.
#
#   scripts/check_symbols.sh [--update] [BUILD_DIR]     (BUILD_DIR defaults to build)
#
# Libraries: libdocsec, libsvctransport and, when the build has the reference server, the server
# component libdocsec_server.
# The lists hold the demangled names of the defined dynamic symbols (nm -D --defined-only),
# sorted, without the instances of the C++ standard library's templates that the compiler makes
# and exports on its own (they change with the compiler and its optimisation, not with docsec).
# A symbol that is neither a test hook nor an internal must not appear at all: the check fails on
# any name in an `internal` namespace, any *ForTesting function, and the channel secrets.
#
# A removed symbol breaks programs linked against an earlier library: the soname's major number
# (the project's major version) must go up with it. An added symbol only needs the list updated.
# --update rewrites the lists from the build.
set -euo pipefail
cd "$(dirname "$0")/.."
update=0
if [ "${1:-}" = "--update" ]; then
  update=1
  shift
fi
build=${1:-build}

# exported LIBRARY: the sorted, demangled list of what LIBRARY exports.
exported() {
  nm -D --defined-only "$1" | awk '{ print $NF }' |
    grep -Ev '^_Z(T[ISVT]|GV|Z)?N?[KVr]*(St|9__gnu_cxx)' | c++filt | LC_ALL=C sort
}

failed=0
# The server component is built only where SQLite and cpp-httplib are found.
for entry in libdocsec:libdocsec.so libsvctransport:svctransport/libsvctransport.so \
             libdocsec_server:tools/server/libdocsec_server.so; do
  name=${entry%%:*}
  library="$build/${entry#*:}"
  list="abi/$name.symbols"
  if [ "$name" = libdocsec_server ] && [ ! -d "$build/tools/server" ]; then
    echo "$library: the build has no reference server; not checked"
    continue
  fi
  if [ ! -f "$library" ]; then
    echo "$library: not built (build the plain configuration first)"
    failed=1
    continue
  fi
  actual=$(exported "$library")
  forbidden=$(grep -E '(^|[ :])internal::|ForTesting|docsec::(ChannelKey|TailPad)\b' <<<"$actual" || true)
  if [ -n "$forbidden" ]; then
    echo "$library exports internals or test hooks, which must stay hidden:"
    sed 's/^/  /' <<<"$forbidden"
    failed=1
  fi
  if [ "$update" -eq 1 ]; then
    printf '%s\n' "$actual" >"$list"
    echo "$list: $(wc -l <"$list") symbols"
    continue
  fi
  expected=$(grep -v '^#' "$list" 2>/dev/null || true)
  added=$(LC_ALL=C comm -13 <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | grep . || true)
  removed=$(LC_ALL=C comm -23 <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | grep . || true)
  if [ -z "$added" ] && [ -z "$removed" ]; then
    echo "$library: exports the $(grep -c . <<<"$actual") symbols of $list"
    continue
  fi
  failed=1
  echo "$library differs from $list:"
  [ -z "$added" ] || { echo " added:"; sed 's/^/  + /' <<<"$added"; }
  if [ -n "$removed" ]; then
    echo " removed:"
    sed 's/^/  - /' <<<"$removed"
    echo " A removed symbol breaks programs linked against the earlier library: raise the"
    echo " project's major version (the soname's) in the top CMakeLists.txt with it."
  fi
  echo " If the change is meant, update the lists: scripts/check_symbols.sh --update $build"
done
exit "$failed"
