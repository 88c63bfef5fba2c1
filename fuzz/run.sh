#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, ASan + UBSan) and runs each for the
# given number of seconds (default 60), starting from the seed corpora.
# Any crash, leak, sanitizer report or timeout fails the run; the input that
# caused it is kept under build/fuzz/findings/.
#   fuzz/run.sh           one minute each
#   fuzz/run.sh 3600      an hour each
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzzers

out=build/fuzz
mkdir -p "$out/findings" "$out/logs"
status=0
for harness in "$out"/fuzz/fuzz_*; do
  [[ -x $harness ]] || continue
  name=$(basename "$harness")
  corpus="$out/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [[ -d fuzz/corpus/$name ]] && seeds+=("fuzz/corpus/$name")
  log="$out/logs/$name.log"
  echo "== $name: ${seconds}s"
  if ! "$harness" "$corpus" "${seeds[@]}" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
      -artifact_prefix="$out/findings/$name-" -print_final_stats=1 >"$log" 2>&1; then
    echo "FAILED: $name (log: $log)"
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -20 || true
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$log" | tail -2 || true
done
exit $status
