// 16-bit mono PCM WAV image, built whole in memory.
#pragma once

#include <cstdint>

#include "dsp/audio_buffer.h"

// A complete WAV file in one heap block (from mem_alloc) and its length.
struct WavImage {
  std::uint8_t* bytes;
  std::uint64_t length;
};

// Encodes `buffer` with `gain` applied: 0 with `*bytes`/`*length` filled (the
// caller then owns the block), -1 with both untouched.
int encode_wav(const AudioBuffer& buffer, std::uint8_t** bytes, std::uint64_t* length, double gain);
