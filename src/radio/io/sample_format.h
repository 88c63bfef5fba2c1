// The sample formats of raw I/Q recordings: one table of their names (on
// the command line, in file names and in SigMF metadata), their decoding into
// complex float pairs at full scale 1, and their encoding from such pairs.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kdsp {

enum class SampleFormat {
  CU8,      // unsigned 8-bit I, Q (centre 127.5)
  CS8,      // signed 8-bit I, Q
  CS16_LE,  // signed 16-bit little-endian I, Q
  CF32_LE,  // float32 little-endian I, Q
  CI32_LE,  // signed 32-bit little-endian I, Q (SDRangel's 24-bit samples are kept so)
};

// Bytes of one I/Q pair.
std::size_t pair_bytes(SampleFormat format);

// The name used on the command line: "cu8", "cs8", "cs16", "cf32".
const char* sample_format_name(SampleFormat format);

// 0 with `*format` set for a command-line name, -1 otherwise.
int parse_sample_format(std::string_view name, SampleFormat* format);

// The raw format a file's name announces by its extension (.cu8, .cs8,
// .cs16, .cf32, .cfile, and .iq for a kdsp capture), if any.
std::optional<SampleFormat> sample_format_from_name(std::string_view path);

// The SigMF datatype of a format: "cu8", "ci8", "ci16_le", "cf32_le".
const char* sigmf_datatype_name(SampleFormat format);

// 0 with `*format` set for a SigMF datatype kdsp reads, -1 otherwise.
int parse_sigmf_datatype(std::string_view name, SampleFormat* format);

// "cu8, cs8, cs16 or cf32" and "cu8, ci8, ci16_le or cf32_le", for messages.
std::string sample_format_choices();
std::string sigmf_datatype_choices();

// Decodes `pair_count` pairs from `bytes` (pair_count * pair_bytes(format)
// bytes) into `out`, whatever the host's byte order.
void decode_pairs(SampleFormat format, const std::uint8_t* bytes, std::size_t pair_count, std::complex<float>* out);

// Encodes `pair_count` pairs (full scale 1) into `bytes`, little-endian,
// integers rounded to the nearest and clipped to the format's range.
void encode_pairs(SampleFormat format, const std::complex<double>* pairs, std::size_t pair_count, std::uint8_t* bytes);

}  // namespace kdsp
