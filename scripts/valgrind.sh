#!/usr/bin/env bash
# Runs the release test suite under valgrind memcheck, following every kdsp
# and companion-tool process the tests start. Any memory error or leak fails.
#   scripts/valgrind.sh [gtest filter]
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
cmake --build --preset default

# Two tests are left out by default because valgrind itself changes what they
# look at: it supplies argument 0 to a program started without one, and its
# log file takes descriptor 1 when the program starts with standard output
# closed. Both run under the sanitizer build instead.
filter=${1:-*-DriverCli.WrongArgumentCountPrintsUsageAndOpensNothing:DriverOutput.FailedDeliveryIsAnIoErrorAndLeavesNothing}
logs=$(pwd)/build/default/valgrind-logs
rm -rf "$logs"
mkdir -p "$logs"
# kdsp-rx, kdsp-scan and kdsp-synth run natively here: they convert,
# resample or transform millions of samples per test recording, which
# memcheck would slow past CI's time; their memory safety is checked by the
# sanitizer suite, and the core they call by the kdsp runs followed here.
# The suppressions are named by absolute path, since tests start programs
# in directories of their own.
valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --suppressions="$(pwd)/tests/sanitizers/valgrind.supp" \
  --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
  --trace-children=yes \
  --trace-children-skip='*python*,*sox*,*perl*,*parallel*,*ssh*,*rsync*,*/sh,*/bash,*/unshare,*/mount,*/cat,*/ls,*/printf,*/kdsp-rx,*/kdsp-scan,*/kdsp-synth' \
  --log-file="$logs/%p.log" \
  build/default/tests/kdsp_tests --gtest_filter="$filter" --gtest_brief=1 || status=$?
status=${status:-0}
# Child processes report in their own logs; any error there fails too.
echo "valgrind followed $(ls "$logs" | wc -l) processes"
if grep -a -l -E 'ERROR SUMMARY: [1-9]|definitely lost: [1-9]|indirectly lost: [1-9]' "$logs"/*.log; then
  echo "valgrind found errors (logs above)"
  exit 1
fi
rm -rf "$logs"
exit "$status"
