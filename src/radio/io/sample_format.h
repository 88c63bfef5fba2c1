// The sample formats of raw I/Q recordings and their decoding into complex
// float pairs at full scale 1.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kdsp {

enum class SampleFormat {
  CU8,      // unsigned 8-bit I, Q (centre 127.5)
  CS8,      // signed 8-bit I, Q
  CS16_LE,  // signed 16-bit little-endian I, Q
  CF32_LE,  // float32 little-endian I, Q
};

// Bytes of one I/Q pair.
std::size_t pair_bytes(SampleFormat format);

// The name used on the command line: "cu8", "cs8", "cs16", "cf32".
const char* sample_format_name(SampleFormat format);

// 0 with `*format` set for a command-line name, -1 otherwise.
int parse_sample_format(std::string_view name, SampleFormat* format);

// Decodes `pair_count` pairs from `bytes` (pair_count * pair_bytes(format)
// bytes) into `out`, whatever the host's byte order.
void decode_pairs(SampleFormat format, const std::uint8_t* bytes, std::size_t pair_count, std::complex<float>* out);

}  // namespace kdsp
