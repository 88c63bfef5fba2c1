#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, ASan + UBSan) and runs each for the
# given number of seconds (default 60), starting from seed corpora built here
# from examples/, tests/data/golden/ and the hand-made seeds in fuzz/seeds/.
# Any crash, leak, sanitizer report or timeout fails the run; the input that
# caused it is kept under build/fuzz/findings/. Per harness it prints the
# executions, their rate, the coverage reached and the corpus kept.
#   fuzz/run.sh                one minute each
#   fuzz/run.sh 3600           an hour each
#   fuzz/run.sh 300 fuzz_kernel_vm fuzz_asm_roundtrip   only these
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
only=("$@")

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzzers kdsp-as kdsp-dis

out=build/fuzz
seeds=$out/seeds
mkdir -p "$out/findings" "$out/logs"

# ------------------------------------------------------------------ seeds
# Rebuilt on every run from the files they come from, so that no copy of an
# example or a golden file is kept in fuzz/.
rm -rf "$seeds"
mkdir -p "$seeds"/{kernels,sources,captures,runs,plans,sdriq}
for source in examples/*.kasm fuzz/seeds/*.kasm; do
  "$out/tools/kdsp-as/kdsp-as" "$source" -o "$seeds/kernels/$(basename "$source" .kasm).kdsp"
done
for case_dir in tests/data/golden/*/; do
  name=$(basename "$case_dir")
  cp "$case_dir/kernel.kdsp" "$seeds/kernels/golden-$name.kdsp"
  cp "$case_dir/capture.iq" "$seeds/captures/golden-$name.iq"
done
cp fuzz/seeds/*.iq "$seeds/captures/"
cp fuzz/seeds/*.csv "$seeds/plans/"
cp fuzz/seeds/*.sdriq "$seeds/sdriq/"
cp fuzz/seeds/*.kasm "$seeds/sources/"
# The disassembler's listings of every kernel: assembler input with labels,
# data and .word lines in the shape the tools write them.
for kernel in "$seeds"/kernels/*.kdsp; do
  "$out/tools/kdsp-dis/kdsp-dis" "$kernel" >"$seeds/sources/listing-$(basename "$kernel" .kdsp).kasm"
done

# A whole run's input: u16 little-endian kernel length, kernel, capture.
write_run() {
  local kernel=$1 capture=$2 target=$3 size
  size=$(stat -c %s "$kernel")
  { printf "\\x$(printf %02x $((size & 255)))\\x$(printf %02x $((size >> 8)))"; cat "$kernel" "$capture"; } >"$target"
}
# Every kernel against the short hand-made tone; the golden cases whose
# capture is small enough to keep a run quick, as they are.
for kernel in "$seeds"/kernels/*.kdsp; do
  write_run "$kernel" fuzz/seeds/tone.iq "$seeds/runs/$(basename "$kernel" .kdsp).bin"
done
for case_dir in tests/data/golden/*/; do
  if (($(stat -c %s "$case_dir/capture.iq") <= 65536)); then
    write_run "$case_dir/kernel.kdsp" "$case_dir/capture.iq" "$seeds/runs/golden-$(basename "$case_dir")-own.bin"
  fi
done

# What an rtl_tcp server sends, after the byte that sets the client's
# buffer: a greeting with samples, a bare greeting, a greeting cut short,
# an odd byte of samples, another server's banner.
mkdir -p "$seeds/rtl_tcp"
greeting='RTL0\x00\x00\x00\x05\x00\x00\x00\x1d'
printf "\x07${greeting}\x7f\x80\x00\xff\xff\x00\x80\x7f" >"$seeds/rtl_tcp/samples.bin"
printf "\x00${greeting}" >"$seeds/rtl_tcp/greeting.bin"
printf '\xffRTL0\x00\x00' >"$seeds/rtl_tcp/cut.bin"
printf "\x02${greeting}\x01\x02\x03" >"$seeds/rtl_tcp/odd.bin"
printf '\x10SSH-2.0-OpenSSH_9.2\r\n' >"$seeds/rtl_tcp/ssh.bin"

# A broken structure-aware mutator would quietly turn the kernel harnesses
# into shallow byte fuzzers: check it first.
"$out/fuzz/kernel_mutator_check" "$seeds"/kernels/*.kdsp

# ---------------------------------------------------------------- harnesses
# Seed folders, dictionary and extra flags of each harness.
harness_options() {
  case $1 in
    fuzz_kernel_run | fuzz_kernel_vm | fuzz_asm_roundtrip)
      echo "$seeds/kernels -dict=fuzz/kernel.dict" ;;
    fuzz_driver_run) echo "$seeds/runs -dict=fuzz/kernel.dict" ;;
    fuzz_assembler) echo "examples $seeds/sources -dict=fuzz/assembler.dict" ;;
    # The golden captures go up to 1.9 MB; their first 8 KiB say as much to
    # the loader and keep every execution cheap.
    fuzz_capture_load) echo "$seeds/captures -max_len=8192" ;;
    fuzz_channel_plan) echo "$seeds/plans -dict=fuzz/channel_plan.dict -max_len=4096" ;;
    # A header and a few pairs say all the header reader looks at.
    fuzz_sdriq_header) echo "$seeds/sdriq -dict=fuzz/sdriq.dict -max_len=64" ;;
    fuzz_rtl_tcp) echo "$seeds/rtl_tcp -dict=fuzz/rtl_tcp.dict -max_len=4096" ;;
    *) echo "" ;;
  esac
}

# The last value of `field:` in libFuzzer's status lines, or of a final stat.
status_field() { grep -oE "$1: *[0-9]+" "$2" | tail -1 | grep -oE '[0-9]+$' || echo "?"; }

TIMEFORMAT='%U %S'
status=0
summary=()
for harness in "$out"/fuzz/fuzz_*; do
  [[ -x $harness ]] || continue
  name=$(basename "$harness")
  if ((${#only[@]} > 0)) && [[ ! " ${only[*]} " == *" $name "* ]]; then continue; fi
  corpus="$out/corpus/$name"
  mkdir -p "$corpus"
  read -r -a options <<<"$(harness_options "$name")"
  log="$out/logs/$name.log"
  echo "== $name: ${seconds}s"
  # The harness's own CPU time as well: on a shared machine executions per
  # CPU second say more than executions per second.
  if ! cpu=$({ time "$harness" "$corpus" "${options[@]}" -max_total_time="$seconds" -timeout=20 \
      -rss_limit_mb=4096 -artifact_prefix="$out/findings/$name-" -print_final_stats=1 >"$log" 2>&1; } 2>&1); then
    echo "FAILED: $name (log: $log)"
    grep -E 'ERROR|SUMMARY|Test unit written|round trip' "$log" | head -20 || true
    status=1
  fi
  runs=$(status_field stat::number_of_executed_units "$log")
  rate=$(status_field stat::average_exec_per_sec "$log")
  per_cpu=$(awk -v runs="$runs" -v cpu="$cpu" 'BEGIN { split(cpu, t, " "); s = t[1] + t[2];
    if (runs ~ /^[0-9]+$/ && s > 0) printf "%d", runs / s; else printf "?" }')
  cov=$(status_field cov "$log")
  ft=$(status_field ft "$log")
  files=$(find "$corpus" -type f | wc -l)
  kib=$(($(du -sb "$corpus" | cut -f1) / 1024))
  line=$(printf '%-20s %12s %10s %10s %7s %8s %7s %8s' "$name" "$runs" "$rate" "$per_cpu" "$cov" "$ft" "$files" "$kib")
  echo "$line"
  summary+=("$line")
done

echo
printf '%-20s %12s %10s %10s %7s %8s %7s %8s\n' harness executions exec/s exec/cpu-s cov ft corpus KiB
printf '%s\n' "${summary[@]}"
exit $status
