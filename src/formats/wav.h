// 16-bit mono PCM WAV image, built whole in memory.
#pragma once

#include <cstdint>

#include "formats/audio_buffer.h"

namespace kdsp {

inline constexpr std::uint64_t WAV_HEADER_SIZE = 44;
inline constexpr std::uint64_t WAV_MAX_SAMPLES = 2147483625;  // (2^32 - 1 - 44) / 2: the RIFF size fits 32 bits

// A complete WAV file in one heap block (from mem_alloc) and its length.
struct WavImage {
  std::uint8_t* bytes;
  std::uint64_t length;
};

// Writes the 44-byte header of a 16-bit mono PCM WAV holding `sample_count`
// samples at `sample_rate`.
void write_wav_header(std::uint8_t* header, std::uint64_t sample_count, std::uint32_t sample_rate);

// Encodes `buffer` with `gain` applied: 0 with `*bytes`/`*length` filled (the
// caller then owns the block), -1 with both untouched.
int encode_wav(const AudioBuffer& buffer, std::uint8_t** bytes, std::uint64_t* length, double gain);

}  // namespace kdsp
