#!/usr/bin/env bash
# Runs the release test suite under valgrind memcheck, following every kdsp
# and companion-tool process the tests start. Any memory error or leak fails.
#   scripts/valgrind.sh [gtest filter]
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
cmake --build --preset default

filter=${1:-*}
valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
  --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
  --trace-children=yes \
  --trace-children-skip='*python*,*sox*,*/sh,*/bash,*/unshare,*/mount,*/cat,*/ls,*/printf' \
  --log-file=build/default/valgrind.%p.log \
  build/default/tests/kdsp_tests --gtest_filter="$filter" --gtest_brief=1
status=$?
# Child processes report in their own logs; any error there fails too.
if grep -l -E 'ERROR SUMMARY: [1-9]|definitely lost: [1-9]|indirectly lost: [1-9]' build/default/valgrind.*.log; then
  echo "valgrind found errors (logs above)"
  exit 1
fi
rm -f build/default/valgrind.*.log
exit $status
