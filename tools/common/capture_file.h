// Capture files: headerless little-endian float32 I/Q pairs, I first, taken
// at IQ_SAMPLE_RATE pairs per second. The tools accept exactly the captures
// the core tool accepts: 1 to IQ_MAX_PAIRS pairs, every value finite.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

enum CaptureReadResult : int {
  CAPTURE_OK = 0,
  CAPTURE_UNREADABLE = 1,
  CAPTURE_BAD_LENGTH = 2,
  CAPTURE_NOT_FINITE = 3,
};

// One line of text for a CaptureReadResult.
const char* capture_read_message(int result);

// Writes the little-endian bytes of `values`, four per value, to `bytes`,
// whatever the host's byte order.
void encode_float32_le(std::span<const float> values, std::uint8_t* bytes);

// Reads a whole capture as interleaved I, Q values. CAPTURE_OK with `*values`
// filled (2 values per pair), else a CaptureReadResult with `*values` untouched.
int read_capture_file(const char* path, std::vector<float>* values);

// Carrier-to-noise ratios are stated for noise in this band: the width of the
// core tool's channel filter (13.5 kHz either side of the carrier), so that a
// ratio means what a receiver of that channel sees.
inline constexpr double CNR_BANDWIDTH_HZ = 27000.0;
