// The capture file (headerless little-endian float32 I/Q pairs) and its
// loaded form.
#pragma once

#include <cstdint>

#include "base/result_code.h"

namespace kdsp {

inline constexpr std::uint32_t IQ_SAMPLE_RATE = 240000;  // pairs per second
inline constexpr std::uint64_t IQ_MAX_PAIRS = 7200000;   // 30 s
inline constexpr std::uint64_t IQ_PAIR_BYTES = 8;
inline constexpr std::uint64_t IQ_MAX_FILE_SIZE = IQ_MAX_PAIRS * IQ_PAIR_BYTES;

struct IqCapture {
  float* samples;            // 2 * pair_count values: I0, Q0, I1, Q1, ... (from mem_alloc)
  std::uint64_t pair_count;  // 1 .. IQ_MAX_PAIRS
};

// Validates a capture file already in memory and builds `*capture` from it:
// OK, BAD_IQ or IO_ERROR as load_iq_capture.
ResultCode parse_iq_capture(const std::uint8_t* bytes, std::uint64_t length, IqCapture* capture);

// Loads and validates the capture at `path` into `*capture`, whose pointer is
// null: OK with the capture filled, BAD_IQ for an unreadable file, a bad length
// or a non-finite value, IO_ERROR when memory runs out. A file longer than
// the largest capture is refused before anything is allocated; the file is
// read straight into the samples array, the one allocation request.
ResultCode load_iq_capture(const char* path, IqCapture* capture);

// Releases the samples and nulls the pointer.
void release_iq_capture(IqCapture* capture);

}  // namespace kdsp
