#!/usr/bin/env bash
# Runs the companion programs of one build on a fixed set of recordings and
# prints a checksum of every file they write, one line each, so that two
# builds (before and after a change that should not change any output) can
# be compared with diff:
#   scripts/fingerprint_outputs.sh BUILD_DIR > before.txt
#   ... change, rebuild ...
#   scripts/fingerprint_outputs.sh BUILD_DIR > after.txt; diff before.txt after.txt
# The recordings are synthesized by the build's own kdsp-synth, so its bytes
# are compared too; with RECORDINGS (a folder this script filled before, with
# KEEP_RECORDINGS=DIR) the same recordings are read instead, to compare the
# readers alone across a change in the synthesizer. Exit statuses of the runs
# are part of the listing.
set -uo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR [RECORDINGS]}" && pwd)
recordings=${2:+$(cd "$2" && pwd)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
synth=$build/tools/kdsp-synth/kdsp-synth
scan=$build/tools/kdsp-scan/kdsp-scan
rx=$build/tools/kdsp-rx/kdsp-rx
as=$build/tools/kdsp-as/kdsp-as

run() {  # name, command...: the status of one run, and what it printed
  local name=$1
  shift
  "$@" >"$name.stdout" 2>"$name.stderr"
  echo "status $name $?"
}

if [[ -n $recordings ]]; then
  cp "$recordings"/* .
else
run synth-capture "$synth" --audio voice --offset 25000 --cnr 30 --second-offset -40000 \
  --second-audio tone:1500 --seed 1 --duration 8 capture.iq
run synth-tone "$synth" --audio tone:800 --offset -12500 --cnr 20 --seed 2 --duration 3 tone.iq
run synth-keyed "$synth" --keyed 4 --rate 2.4M --duration 20 --cnr 25 --deviation 2500 --seed 5 \
  --truth truth.json band.cu8
run synth-sigmf "$synth" --keyed-channels 12.5k --key 1:0-10 --duration 10 --rate 2.4M --format cu8 \
  --center 145.5M --cnr 25 pass.sigmf-data
run synth-cs16 "$synth" --keyed 2 --rate 1.2M --duration 12 --cnr 20 --seed 9 --format cs16 wide.cs16
run synth-cf32 "$synth" --keyed 3 --rate 240k --duration 8 --cnr 30 --seed 3 --format cf32 core.cf32
fi
if [[ -n ${KEEP_RECORDINGS:-} ]]; then
  mkdir -p "$KEEP_RECORDINGS"
  cp capture.iq tone.iq truth.json band.cu8 pass.sigmf-data pass.sigmf-meta wide.cs16 core.cf32 "$KEEP_RECORDINGS"/
fi

run scan-capture "$scan" capture.iq
run scan-png "$scan" --png band.png --rate 2.4M --center 145.5M band.cu8
run scan-sigmf "$scan" pass.sigmf-meta
run scan-cs16 "$scan" --rate 1.2M wide.cs16

run rx-capture "$rx" capture.iq --offset 25000 -o rx-capture.wav -q
run rx-strongest "$rx" band.cu8 --rate 2.4M -o rx-strongest.wav
run rx-sigmf "$rx" pass.sigmf-meta --freq 145.5125M -o rx-sigmf.wav -q
run rx-narrow "$rx" capture.iq --offset 25000 --bandwidth 12.5k -o rx-narrow.wav -q
run rx-squelch "$rx" band.cu8 --rate 2.4M --squelch 8 -o rx-squelch.wav -q
run rx-after "$rx" wide.cs16 --rate 1.2M --deemphasis 750 --normalize -o rx-after.wav -q
mkdir -p pieces
run rx-pieces "$rx" band.cu8 --rate 2.4M --offset 0 -j 2 --keep-pieces pieces -o rx-pieces.wav -q
"$as" "$build/../../examples/demodulate_channel.kasm" -o kernel.kdsp 2>/dev/null
run rx-all "$rx" --all --raster 25k band.cu8 --rate 2.4M --center 145.5M -O all-band --csv
run rx-all-sigmf "$rx" --all pass.sigmf-meta -O all-sigmf -j 1
run rx-all-cs16 "$rx" --all wide.cs16 --rate 1.2M -O all-cs16 --deemphasis 750
mkdir -p all-cf32-pieces
run rx-all-cf32 "$rx" --all core.cf32 --rate 240k -O all-cf32 --keep-pieces all-cf32-pieces
run rx-all-channels "$rx" --all band.cu8 --rate 2.4M --channels -850k,75k,87.5k -O all-listed --squelch 10
run rx-bad-rate "$rx" band.cu8 -o never.wav
run rx-bad-format "$rx" band.xyz -o never.wav


find . -type f ! -name '*.stdout' -print0 | sort -z | xargs -0 sha256sum
for f in *.stdout *.stderr; do
  printf '%s ' "$f"
  # The progress line and timings are not part of the output.
  grep -v 'real time' "$f" | sha256sum
done
