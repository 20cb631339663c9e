#!/usr/bin/env bash
# Checks that C++ sources and headers are formatted as .clang-format says: every tracked *.h and
# *.cc file, or only the files named on the command line. Prints each place that differs and
# fails if there is one; `clang-format -i FILE...` fixes them.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files -- '*.h' '*.cc')
fi
[ ${#files[@]} -gt 0 ] || exit 0
clang-format --dry-run -Werror "${files[@]}"
echo "format: ${#files[@]} files checked"
