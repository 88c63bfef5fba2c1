// Any bytes as the start of an .sdriq recording. Byte mutation almost never
// keeps the CRC right, so an input whose first byte is odd has its CRC set
// over the 28 bytes after that byte before the rest is read as the header:
// half the inputs reach the field checks. A header that is read is written
// back and read again: the same rate, centre, size and start.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "radio/meta/sdriq_header.h"

namespace kdsp {

namespace {

constexpr std::size_t CRC_AT = 28;

std::vector<std::uint8_t> header_input(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data + 1, data + size);
  if ((data[0] & 1) != 0 && bytes.size() >= SDRIQ_HEADER_BYTES) {
    const auto crc = static_cast<std::uint32_t>(crc32(0L, bytes.data(), static_cast<uInt>(CRC_AT)));
    for (int i = 0; i < 4; ++i) bytes[CRC_AT + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::vector<std::uint8_t> bytes = header_input(data, size);
  SdriqHeader header;
  Failure error;
  if (parse_sdriq_header(bytes, &header, &error) != 0) {
    if (error.cause.empty()) __builtin_trap();
    return 0;
  }
  if (header.sample_rate == 0 || (header.sample_bits != 16 && header.sample_bits != 24)) __builtin_trap();
  SdriqHeader again;
  if (parse_sdriq_header(sdriq_header_bytes(header), &again, &error) != 0) __builtin_trap();
  if (again.sample_rate != header.sample_rate || again.centre_hz != header.centre_hz ||
      again.sample_bits != header.sample_bits ||
      (again.time_unit == SdriqTimeUnit::NONE) != (header.time_unit == SdriqTimeUnit::NONE)) {
    __builtin_trap();
  }
  if (header.time_unit != SdriqTimeUnit::NONE && again.start_time != header.start_time) __builtin_trap();
  return 0;
}

}  // namespace kdsp
