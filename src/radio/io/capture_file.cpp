#include "radio/io/capture_file.h"

#include <cstring>

namespace kdsp {

void encode_float32_le(std::span<const float> values, std::uint8_t* bytes) {
  for (float value : values) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    bytes[0] = static_cast<std::uint8_t>(bits);
    bytes[1] = static_cast<std::uint8_t>(bits >> 8);
    bytes[2] = static_cast<std::uint8_t>(bits >> 16);
    bytes[3] = static_cast<std::uint8_t>(bits >> 24);
    bytes += 4;
  }
}

}  // namespace kdsp
