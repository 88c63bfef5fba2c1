#include "radio/meta/sdriq_header.h"

#include <zlib.h>

#include <cstdio>

#include "base/byte_order.h"

namespace kdsp {

namespace {

constexpr std::size_t RATE_AT = 0;
constexpr std::size_t CENTRE_AT = 4;
constexpr std::size_t START_AT = 12;
constexpr std::size_t BITS_AT = 20;
constexpr std::size_t FILLER_AT = 24;
constexpr std::size_t CRC_AT = 28;

// Below this a start time is a count of seconds; see parse_sdriq_header.
constexpr std::int64_t FIRST_MILLISECOND_STAMP = 100'000'000'000;

std::uint32_t header_crc(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(crc32(0L, bytes, static_cast<uInt>(CRC_AT)));
}

int read_start_time(std::int64_t stamp, SdriqHeader* header, Failure* failure) {
  if (stamp == 0) return 0;
  const bool in_seconds = stamp > 0 && stamp < FIRST_MILLISECOND_STAMP;
  // A count of seconds below 1e11 times 1000 stays far inside int64.
  if (utc_time_from_unix_ms(in_seconds ? stamp * 1000 : stamp, &header->start_time) != 0) {
    *failure = Failure{"its start time " + std::to_string(stamp) + " lies outside 1970..9999"};
    return -1;
  }
  header->time_unit = in_seconds ? SdriqTimeUnit::SECONDS : SdriqTimeUnit::MILLISECONDS;
  return 0;
}

// Milliseconds as SDRangel writes today, but for the first three years of
// the epoch, whose millisecond counts would be read back as seconds.
std::int64_t start_stamp(const SdriqHeader& header) {
  if (header.time_unit == SdriqTimeUnit::NONE) return 0;
  const std::int64_t milliseconds = header.start_time.seconds * 1000 + header.start_time.nanoseconds / 1'000'000;
  return milliseconds < FIRST_MILLISECOND_STAMP ? header.start_time.seconds : milliseconds;
}

}  // namespace

int parse_sdriq_header(std::span<const std::uint8_t> bytes, SdriqHeader* header, Failure* failure) {
  if (bytes.size() < SDRIQ_HEADER_BYTES) {
    *failure = Failure{"it is " + std::to_string(bytes.size()) + " bytes long, shorter than the 32-byte .sdriq header"};
    return -1;
  }
  const std::uint8_t* at = bytes.data();
  const std::uint32_t stored_crc = read_le32(at + CRC_AT);
  const std::uint32_t computed_crc = header_crc(at);
  if (stored_crc != computed_crc) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "its header checksum is %08x but its first 28 bytes give %08x: the header is damaged, or this is "
                  "no .sdriq recording",
                  stored_crc, computed_crc);
    *failure = Failure{text};
    return -1;
  }
  SdriqHeader parsed;
  parsed.sample_rate = read_le32(at + RATE_AT);
  parsed.centre_hz = read_le64(at + CENTRE_AT);
  parsed.sample_bits = read_le32(at + BITS_AT);
  if (parsed.sample_rate == 0) {
    *failure = Failure{"its header gives a sample rate of 0"};
    return -1;
  }
  if (parsed.sample_bits != 16 && parsed.sample_bits != 24) {
    *failure = Failure{"its header gives " + std::to_string(parsed.sample_bits) + "-bit samples; .sdriq has 16 or 24"};
    return -1;
  }
  if (read_start_time(static_cast<std::int64_t>(read_le64(at + START_AT)), &parsed, failure) != 0) return -1;
  *header = parsed;
  return 0;
}

std::array<std::uint8_t, SDRIQ_HEADER_BYTES> sdriq_header_bytes(const SdriqHeader& header) {
  std::array<std::uint8_t, SDRIQ_HEADER_BYTES> bytes{};
  const std::int64_t stamp = start_stamp(header);
  write_le32(bytes.data() + RATE_AT, header.sample_rate);
  write_le64(bytes.data() + CENTRE_AT, header.centre_hz);
  write_le64(bytes.data() + START_AT, static_cast<std::uint64_t>(stamp));
  write_le32(bytes.data() + BITS_AT, header.sample_bits);
  write_le32(bytes.data() + FILLER_AT, 0);
  write_le32(bytes.data() + CRC_AT, header_crc(bytes.data()));
  return bytes;
}

SdriqLayout sdriq_layout(const SdriqHeader& header) {
  return header.sample_bits == 24 ? SdriqLayout::I24_IN_I32_PAIRS : SdriqLayout::I16_PAIRS;
}

std::size_t sdriq_pair_bytes(const SdriqHeader& header) {
  return sdriq_layout(header) == SdriqLayout::I24_IN_I32_PAIRS ? 8 : 4;
}

double sdriq_full_scale(const SdriqHeader& header) {
  return sdriq_layout(header) == SdriqLayout::I24_IN_I32_PAIRS ? 8388608.0 : 32768.0;
}

}  // namespace kdsp
