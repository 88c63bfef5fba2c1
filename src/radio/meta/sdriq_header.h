// The header of an SDRangel I/Q recording (.sdriq): 32 bytes before the
// samples saying the rate, the centre, the start time and the sample size,
// guarded by a CRC-32. Read from bytes, and written for tests and for
// kdsp-synth.
//
// The layout, all little-endian, as SDRangel's FileRecord::Header
// (sdrbase/dsp/filerecord.h) packs it and its readme documents it
// (plugins/samplesource/fileinput/readme.md, rescuesdriq/readme.md):
//
//   offset  bytes  field
//        0      4  sample rate, samples per second (uint32)
//        4      8  centre frequency, Hz (uint64)
//       12      8  start time since 1970-01-01T00:00:00Z (int64): seconds
//                  before SDRangel 6.16.2, milliseconds since
//       20      4  sample size in bits: 16 or 24 (uint32)
//       24      4  filler, zero
//       28      4  CRC-32 (IEEE 802.3, zlib's crc32) of bytes 0..27
//
// The samples follow at byte 32, interleaved I, Q: with 16-bit samples each
// as an int16 (4 bytes a pair, full scale 32768); with 24-bit samples each
// as an int32 holding a value in [-2^23, 2^23) (8 bytes a pair, full scale
// 8388608). The header is a whole number of pairs of either size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "radio/meta/utc_time.h"

#include "radio/base/failure.h"

namespace kdsp {

inline constexpr std::size_t SDRIQ_HEADER_BYTES = 32;
inline constexpr std::size_t SDRIQ_DATA_OFFSET = SDRIQ_HEADER_BYTES;

enum class SdriqLayout {
  I16_PAIRS,         // int16 I, int16 Q
  I24_IN_I32_PAIRS,  // int32 I, int32 Q, each a 24-bit value
};

// How the start time was written: the unit changed in SDRangel 6.16.2.
enum class SdriqTimeUnit { NONE, SECONDS, MILLISECONDS };

struct SdriqHeader {
  std::uint32_t sample_rate = 0;
  std::uint64_t centre_hz = 0;
  std::uint32_t sample_bits = 16;                 // 16 or 24
  SdriqTimeUnit time_unit = SdriqTimeUnit::NONE;  // NONE: no start time written (0)
  UtcTime start_time;                             // when time_unit is not NONE
};

// Reads the header at the start of `bytes` (at least SDRIQ_HEADER_BYTES of
// the file). The start time's unit is told by its size: a value below 1e11
// is seconds (a millisecond count that small would be 1973, a second count
// that large the year 5138). 0 with `*header` filled, or -1 with `*error`
// saying what is wrong: too short, a CRC that does not match (a damaged
// header, or no .sdriq at all), a zero rate, a sample size other than 16 or
// 24, a start time past 9999.
int parse_sdriq_header(std::span<const std::uint8_t> bytes, SdriqHeader* header, Failure* failure);

// The 32 header bytes for `header`, CRC included, with the start time in
// milliseconds as SDRangel writes it today (0 when time_unit is NONE), but
// in whole seconds before 1973-03-03T09:46:40Z, where a count of
// milliseconds would be read back as seconds.
std::array<std::uint8_t, SDRIQ_HEADER_BYTES> sdriq_header_bytes(const SdriqHeader& header);

SdriqLayout sdriq_layout(const SdriqHeader& header);

// Bytes of one I/Q pair after the header: 4 or 8.
std::size_t sdriq_pair_bytes(const SdriqHeader& header);

// The value of a full-scale sample: 32768 or 8388608.
double sdriq_full_scale(const SdriqHeader& header);

}  // namespace kdsp
