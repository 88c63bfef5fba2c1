#include "radio/io/sample_format.h"

#include <array>
#include <cstring>

namespace kdsp {

namespace {

struct FormatName {
  SampleFormat format;
  const char* name;
};

constexpr FormatName FORMAT_NAMES[] = {
    {SampleFormat::CU8, "cu8"},
    {SampleFormat::CS8, "cs8"},
    {SampleFormat::CS16_LE, "cs16"},
    {SampleFormat::CF32_LE, "cf32"},
};

float float_from_le(const std::uint8_t* p) {
  const std::uint32_t bits =
      std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

float int16_from_le(const std::uint8_t* p) {
  return static_cast<float>(static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8))));
}

using ByteValues = std::array<float, 256>;

// The values of the 8-bit formats, unsigned (cu8) or two's complement (cs8).
ByteValues byte_values(bool unsigned_bytes) {
  ByteValues values{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    values[byte] = unsigned_bytes ? (static_cast<float>(byte) - 127.5f) / 128.0f
                                  : static_cast<float>(static_cast<std::int8_t>(byte)) / 128.0f;
  }
  return values;
}

}  // namespace

std::size_t pair_bytes(SampleFormat format) {
  switch (format) {
    case SampleFormat::CU8:
    case SampleFormat::CS8: return 2;
    case SampleFormat::CS16_LE: return 4;
    case SampleFormat::CF32_LE: return 8;
  }
  return 8;
}

const char* sample_format_name(SampleFormat format) {
  for (const FormatName& entry : FORMAT_NAMES) {
    if (entry.format == format) return entry.name;
  }
  return "?";
}

int parse_sample_format(std::string_view name, SampleFormat* format) {
  for (const FormatName& entry : FORMAT_NAMES) {
    if (name == entry.name) {
      *format = entry.format;
      return 0;
    }
  }
  return -1;
}

void decode_pairs(SampleFormat format, const std::uint8_t* bytes, std::size_t pair_count, std::complex<float>* out) {
  // Integer samples are scaled so that the largest magnitude of the format
  // reads as about 1; the scale does not matter to FM, only the shape does.
  switch (format) {
    case SampleFormat::CU8:
    case SampleFormat::CS8: {
      // Every byte has one value: read from a table, in a flat loop.
      static const ByteValues CU8_VALUES = byte_values(true);
      static const ByteValues CS8_VALUES = byte_values(false);
      const ByteValues& table = format == SampleFormat::CU8 ? CU8_VALUES : CS8_VALUES;
      float* values = reinterpret_cast<float*>(out);
      for (std::size_t i = 0; i < 2 * pair_count; ++i) values[i] = table[bytes[i]];
      break;
    }
    case SampleFormat::CS16_LE:
      for (std::size_t i = 0; i < pair_count; ++i) {
        out[i] = {int16_from_le(bytes + 4 * i) / 32768.0f, int16_from_le(bytes + 4 * i + 2) / 32768.0f};
      }
      break;
    case SampleFormat::CF32_LE:
      for (std::size_t i = 0; i < pair_count; ++i) {
        out[i] = {float_from_le(bytes + 8 * i), float_from_le(bytes + 8 * i + 4)};
      }
      break;
  }
}

}  // namespace kdsp
