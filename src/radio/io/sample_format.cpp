#include "radio/io/sample_format.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <iterator>

namespace kdsp {

namespace {

struct FormatNames {
  SampleFormat format;
  const char* name;   // on the command line and as a file's extension
  const char* sigmf;  // SigMF's core:datatype
  std::size_t pair_bytes;
};

constexpr FormatNames FORMATS[] = {
    {SampleFormat::CU8, "cu8", "cu8", 2},
    {SampleFormat::CS8, "cs8", "ci8", 2},
    {SampleFormat::CS16_LE, "cs16", "ci16_le", 4},
    {SampleFormat::CF32_LE, "cf32", "cf32_le", 8},
    {SampleFormat::CI32_LE, "cs32", "ci32_le", 8},
};

const FormatNames& names_of(SampleFormat format) {
  for (const FormatNames& entry : FORMATS) {
    if (entry.format == format) return entry;
  }
  return FORMATS[3];
}

float int32_from_le(const std::uint8_t* p) {
  const std::uint32_t bits =
      std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
  return static_cast<float>(static_cast<std::int32_t>(bits));
}

std::string choices(const char* FormatNames::*field) {
  std::string text;
  for (std::size_t i = 0; i < std::size(FORMATS); ++i) {
    if (i > 0) text += i + 1 == std::size(FORMATS) ? " or " : ", ";
    text += FORMATS[i].*field;
  }
  return text;
}

double clamped_round(double value, double low, double high) { return std::clamp(std::round(value), low, high); }

void put_le16(std::uint16_t value, std::uint8_t* out) {
  out[0] = static_cast<std::uint8_t>(value);
  out[1] = static_cast<std::uint8_t>(value >> 8);
}

void put_float_le(float value, std::uint8_t* out) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, 4);
  for (int b = 0; b < 4; ++b) out[b] = static_cast<std::uint8_t>(bits >> (8 * b));
}

// One value of a pair in its format's bytes.
void encode_value(SampleFormat format, double v, std::uint8_t* out) {
  switch (format) {
    case SampleFormat::CU8: out[0] = static_cast<std::uint8_t>(clamped_round(v * 128.0 + 127.5, 0.0, 255.0)); break;
    case SampleFormat::CS8:
      out[0] = static_cast<std::uint8_t>(static_cast<std::int8_t>(clamped_round(v * 128.0, -128.0, 127.0)));
      break;
    case SampleFormat::CS16_LE:
      put_le16(static_cast<std::uint16_t>(static_cast<std::int16_t>(clamped_round(v * 32768.0, -32768.0, 32767.0))),
               out);
      break;
    case SampleFormat::CF32_LE: put_float_le(static_cast<float>(v), out); break;
    case SampleFormat::CI32_LE: {
      const auto value = static_cast<std::int64_t>(clamped_round(v * 2147483648.0, -2147483648.0, 2147483647.0));
      const auto bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
      for (int b = 0; b < 4; ++b) out[b] = static_cast<std::uint8_t>(bits >> (8 * b));
      break;
    }
  }
}

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

std::size_t pair_bytes(SampleFormat format) { return names_of(format).pair_bytes; }

const char* sample_format_name(SampleFormat format) { return names_of(format).name; }

const char* sigmf_datatype_name(SampleFormat format) { return names_of(format).sigmf; }

int parse_sample_format(std::string_view name, SampleFormat* format) {
  for (const FormatNames& entry : FORMATS) {
    if (name == entry.name) {
      *format = entry.format;
      return 0;
    }
  }
  return -1;
}

std::optional<SampleFormat> sample_format_from_name(std::string_view path) {
  const auto ends_with = [path](std::string_view tail) {
    return path.size() >= tail.size() &&
           std::equal(tail.begin(), tail.end(), path.end() - static_cast<std::ptrdiff_t>(tail.size()),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
  };
  for (const FormatNames& entry : FORMATS) {
    if (ends_with("." + std::string(entry.name))) return entry.format;
  }
  if (ends_with(".cfile") || ends_with(".iq")) return SampleFormat::CF32_LE;
  return std::nullopt;
}

int parse_sigmf_datatype(std::string_view name, SampleFormat* format) {
  for (const FormatNames& entry : FORMATS) {
    if (name == entry.sigmf) {
      *format = entry.format;
      return 0;
    }
  }
  return -1;
}

std::string sample_format_choices() { return choices(&FormatNames::name); }

std::string sigmf_datatype_choices() { return choices(&FormatNames::sigmf); }

void encode_pairs(SampleFormat format, const std::complex<double>* pairs, std::size_t pair_count, std::uint8_t* bytes) {
  const std::size_t half = pair_bytes(format) / 2;
  for (std::size_t i = 0; i < pair_count; ++i) {
    encode_value(format, pairs[i].real(), bytes + 2 * half * i);
    encode_value(format, pairs[i].imag(), bytes + 2 * half * i + half);
  }
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
    case SampleFormat::CI32_LE:
      for (std::size_t i = 0; i < pair_count; ++i) {
        out[i] = {int32_from_le(bytes + 8 * i) / 2147483648.0f, int32_from_le(bytes + 8 * i + 4) / 2147483648.0f};
      }
      break;
  }
}

}  // namespace kdsp
