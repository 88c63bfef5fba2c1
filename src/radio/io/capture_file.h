// Capture files: headerless little-endian float32 I/Q pairs, I first, taken
// at IQ_SAMPLE_RATE pairs per second. The tools read them with the core
// tool's own loader (driver/iq_capture.h), so they accept exactly what it does.
#pragma once

#include <cstdint>
#include <span>

namespace kdsp {

// Writes the little-endian bytes of `values`, four per value, to `bytes`,
// whatever the host's byte order.
void encode_float32_le(std::span<const float> values, std::uint8_t* bytes);

}  // namespace kdsp
