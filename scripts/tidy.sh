#!/usr/bin/env bash
# Runs clang-tidy's bug-finding checks (.clang-tidy) over the core and the
# companion programs; any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
mapfile -t files < <(git ls-files 'src/*.cpp' 'tools/*.cpp')
run-clang-tidy -quiet -p build/default "${files[@]}" 2>&1 | grep -v -E '^[0-9]+ warnings? generated' \
  | { grep -E 'warning:|error:' && exit 1 || exit 0; }
