#include "radio/meta/sdriq_header.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

namespace kdsp {
namespace {

// A header as SDRangel 6.16.2 and later writes it, laid out and checksummed
// by hand (Python's struct.pack('<IQqII') and zlib.crc32): 2.4 MS/s at
// 145.5 MHz, started 2026-12-09T05:08:13.250Z, 16-bit samples.
constexpr std::array<std::uint8_t, 32> MILLISECOND_HEADER = {
    0x00, 0x9f, 0x24, 0x00, 0x60, 0x27, 0xac, 0x08, 0x00, 0x00, 0x00, 0x00, 0x42, 0xbf, 0x33, 0x59,
    0xa2, 0x01, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc3, 0x1c, 0x36, 0x51};

// The same recording as an SDRangel before 6.16.2 wrote it, with the start
// in seconds, and 24-bit samples.
constexpr std::array<std::uint8_t, 32> SECOND_HEADER_24_BIT = {
    0x00, 0x9f, 0x24, 0x00, 0x60, 0x27, 0xac, 0x08, 0x00, 0x00, 0x00, 0x00, 0x3d, 0xe2, 0x18, 0x6b,
    0x00, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7d, 0xab, 0xf2, 0x11};

constexpr std::int64_t DEC_9_2026_05_08_13 = 1796792893;

SdriqHeader parsed(std::span<const std::uint8_t> bytes) {
  SdriqHeader header;
  Failure error;
  EXPECT_EQ(parse_sdriq_header(bytes, &header, &error), 0) << error;
  return header;
}

std::string refusal(std::span<const std::uint8_t> bytes) {
  SdriqHeader header;
  header.sample_rate = 12345;
  Failure error;
  EXPECT_EQ(parse_sdriq_header(bytes, &header, &error), -1);
  EXPECT_EQ(header.sample_rate, 12345u) << "left untouched";
  return failure_text(error);
}

TEST(SdriqHeader, ReadsAHeaderAsSdrangelWritesIt) {
  const SdriqHeader header = parsed(MILLISECOND_HEADER);
  EXPECT_EQ(header.sample_rate, 2'400'000u);
  EXPECT_EQ(header.centre_hz, 145'500'000u);
  EXPECT_EQ(header.sample_bits, 16u);
  EXPECT_EQ(header.time_unit, SdriqTimeUnit::MILLISECONDS);
  EXPECT_EQ(header.start_time, (UtcTime{DEC_9_2026_05_08_13, 250'000'000}));
  EXPECT_EQ(sdriq_layout(header), SdriqLayout::I16_PAIRS);
  EXPECT_EQ(sdriq_pair_bytes(header), 4u);
  EXPECT_EQ(sdriq_full_scale(header), 32768.0);
  // The header is a whole number of pairs of either size, so the samples
  // start on a pair boundary.
  EXPECT_EQ(SDRIQ_DATA_OFFSET % 8, 0u);
}

TEST(SdriqHeader, ReadsTheSecondsOfOlderRecordingsAnd24BitSamples) {
  const SdriqHeader header = parsed(SECOND_HEADER_24_BIT);
  EXPECT_EQ(header.time_unit, SdriqTimeUnit::SECONDS);
  EXPECT_EQ(header.start_time, (UtcTime{DEC_9_2026_05_08_13, 0}));
  EXPECT_EQ(sdriq_layout(header), SdriqLayout::I24_IN_I32_PAIRS);
  EXPECT_EQ(sdriq_pair_bytes(header), 8u);
  EXPECT_EQ(sdriq_full_scale(header), 8388608.0);
}

TEST(SdriqHeader, WritesTheBytesSdrangelWrites) {
  SdriqHeader header;
  header.sample_rate = 2'400'000;
  header.centre_hz = 145'500'000;
  header.sample_bits = 16;
  header.time_unit = SdriqTimeUnit::MILLISECONDS;
  header.start_time = UtcTime{DEC_9_2026_05_08_13, 250'999'999};  // below a millisecond is not kept
  EXPECT_EQ(sdriq_header_bytes(header), MILLISECOND_HEADER);

  // Before 1973-03-03 a count of milliseconds would read back as seconds:
  // such a start is written in seconds.
  SdriqHeader early = header;
  early.start_time = UtcTime{365 * 86400, 500'000'000};
  const SdriqHeader early_back = parsed(sdriq_header_bytes(early));
  EXPECT_EQ(early_back.time_unit, SdriqTimeUnit::SECONDS);
  EXPECT_EQ(early_back.start_time, (UtcTime{365 * 86400, 0}));

  SdriqHeader untimed = header;
  untimed.time_unit = SdriqTimeUnit::NONE;
  const SdriqHeader back = parsed(sdriq_header_bytes(untimed));
  EXPECT_EQ(back.time_unit, SdriqTimeUnit::NONE);
  EXPECT_EQ(back.sample_rate, 2'400'000u);
}

TEST(SdriqHeader, RefusesEveryDamagedBitOfTheHeader) {
  for (std::size_t bit = 0; bit < 32 * 8; ++bit) {
    std::array<std::uint8_t, 32> damaged = MILLISECOND_HEADER;
    damaged[bit / 8] = static_cast<std::uint8_t>(damaged[bit / 8] ^ (1u << (bit % 8)));
    EXPECT_NE(refusal(damaged).find("header checksum"), std::string::npos) << "bit " << bit;
  }
}

TEST(SdriqHeader, RefusesShortFilesAndFieldsNoRecordingHas) {
  EXPECT_NE(refusal(std::span(MILLISECOND_HEADER).first(31)).find("shorter than the 32-byte"), std::string::npos);
  EXPECT_NE(refusal({}).find("0 bytes long"), std::string::npos);

  SdriqHeader fields = parsed(MILLISECOND_HEADER);
  fields.sample_rate = 0;
  EXPECT_NE(refusal(sdriq_header_bytes(fields)).find("sample rate of 0"), std::string::npos);
  fields.sample_rate = 2'400'000;
  for (std::uint32_t bits : {0u, 8u, 12u, 32u}) {
    fields.sample_bits = bits;
    EXPECT_NE(refusal(sdriq_header_bytes(fields)).find("16 or 24"), std::string::npos) << bits;
  }
  fields.sample_bits = 16;
  fields.start_time = UtcTime{300'000'000'000, 0};  // year 11476
  EXPECT_NE(refusal(sdriq_header_bytes(fields)).find("outside 1970..9999"), std::string::npos);
  fields.start_time = UtcTime{-10, 0};
  EXPECT_NE(refusal(sdriq_header_bytes(fields)).find("outside 1970..9999"), std::string::npos);
}

}  // namespace
}  // namespace kdsp
