#!/usr/bin/env bash
# The first run: from a fresh machine to a WAV you can play.
# Installs what the programs need if it is missing, builds the programs alone
# (no tests: scripts/test.sh builds those), synthesizes the bundled default
# capture (a spoken-like voice at +25 kHz, an interfering tone channel at
# -40 kHz, noise at 30 dB CNR), assembles the bundled example kernel, runs
# kdsp on them and says where the result is.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh programs
cmake --preset programs >/dev/null
cmake --build --preset programs

bin=build/programs
demo=build/demo
mkdir -p "$demo"

"$bin/tools/kdsp-synth/kdsp-synth" --audio voice --offset 25000 --cnr 30 \
  --second-offset -40000 --second-audio tone:1500 --seed 1 --duration 8 "$demo/capture.iq"
"$bin/tools/kdsp-scan/kdsp-scan" --png "$demo/spectrogram.png" "$demo/capture.iq"
"$bin/tools/kdsp-as/kdsp-as" examples/demodulate_channel.kasm -o "$demo/kernel.kdsp"
"$bin/kdsp" "$demo/capture.iq" "$demo/kernel.kdsp" "$demo/voice.wav"

echo
echo "capture:     $demo/capture.iq (8 s, channels listed above)"
echo "spectrogram: $demo/spectrogram.png"
echo "kernel:      $demo/kernel.kdsp (from examples/demodulate_channel.kasm)"
echo "voice:       $(pwd)/$demo/voice.wav  <- play this (e.g. play $demo/voice.wav)"
