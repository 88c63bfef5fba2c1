#include "driver/iq_capture.h"

#include <cstring>

#include "base/limits.h"
#include "base/memory.h"
#include "driver/byte_order.h"
#include "driver/file_read.h"
#include "driver/result.h"

namespace {

// The length rules in their order: empty, too long, not whole pairs.
bool capture_length_valid(std::uint64_t length) {
  if (length == 0) return false;
  if (length / IQ_PAIR_BYTES > IQ_MAX_PAIRS) return false;
  return length % IQ_PAIR_BYTES == 0;
}

// An all-ones exponent field marks an infinity or a NaN; every other bit
// pattern (signed zeros, subnormals, the largest magnitudes) is finite.
bool bits_are_finite(std::uint32_t bits) { return (bits & 0x7FFFFFFFu) <= 0x7F7FFFFFu; }

}  // namespace

int parse_iq_capture(const std::uint8_t* bytes, std::uint64_t length, IqCapture* capture) {
  if (!capture_length_valid(length)) return BAD_IQ;
  MemPtr<float> samples(static_cast<float*>(mem_alloc(length)));
  if (!samples) return IO_ERROR;

  const std::uint64_t value_count = length / 4;
  for (std::uint64_t i = 0; i < value_count; ++i) {
    const std::uint32_t bits = read_le32(bytes + 4 * i);
    std::memcpy(samples.get() + i, &bits, sizeof bits);
    if (!bits_are_finite(bits)) return BAD_IQ;
  }

  capture->samples = samples.release();
  capture->pair_count = length / IQ_PAIR_BYTES;
  return RESULT_OK;
}

int load_iq_capture(const char* path, IqCapture* capture) {
  std::uint8_t* raw = nullptr;
  std::uint64_t length = 0;
  if (read_whole_file(path, &raw, &length, IQ_MAX_FILE_SIZE) != 0) return BAD_IQ;
  const MemPtr<std::uint8_t> file(raw);
  return parse_iq_capture(file.get(), length, capture);
}

void release_iq_capture(IqCapture* capture) {
  mem_release(capture->samples);
  capture->samples = nullptr;
}
