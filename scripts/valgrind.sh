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
valgrind_changes_these=DriverCli.WrongArgumentCountPrintsUsageAndOpensNothing:DriverOutput.FailedDeliveryIsAnIoErrorAndLeavesNothing
# The tests that run kdsp-rx, kdsp-scan and kdsp-synth as programs are left
# out too: those programs run natively here (below), and what valgrind
# would follow in them is kdsp re-running the seconds-long captures they
# made, for byte comparisons, at some fifty times the native time (about
# 8 of the stage's minutes). The core those runs exercise is followed in its
# own tests and the recorded golden runs; the programs' tests run whole under
# the sanitizer build. Their in-process parts (plans, meters, the filter
# bank) still run here.
tool_programs=RxAll.*:RxSquelch.*:RxExactness.*:RxFormats.*:RxChannelChoice.*:RxKernel.*:RxPieces.*:RxChannelWidth.*:RxErrors.*:RxAfterDemod.*:RxRates.*:Scan*:Synth*:EndToEndQuality.*
filter=${1:-*-$valgrind_changes_these:$tool_programs}
# The tone decoder's accuracy test decodes a few hundred transmissions of
# speech; a handful of each kind covers its memory.
export KDSP_TONE_TRIALS=4
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
