#include "formats/iq_capture.h"

#include <bit>
#include <cstring>
#include <utility>

#include "base/byte_order.h"
#include "base/file_read.h"
#include "base/memory.h"
#include "base/result_code.h"

namespace kdsp {

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

// Brings the values to host order (they are stored little-endian) and tests
// each in file order: false at the first infinity or NaN.
bool samples_in_host_order_and_finite(float* samples, std::uint64_t value_count) {
  auto* bytes = reinterpret_cast<std::uint8_t*>(samples);
  for (std::uint64_t i = 0; i < value_count; ++i) {
    std::uint32_t bits = 0;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(&bits, bytes + 4 * i, sizeof bits);
    } else {
      bits = read_le32(bytes + 4 * i);
      std::memcpy(bytes + 4 * i, &bits, sizeof bits);
    }
    if (!bits_are_finite(bits)) return false;
  }
  return true;
}

// Validates the loaded values and hands the array over: OK or BAD_IQ.
ResultCode adopt_samples(MemPtr<float> samples, std::uint64_t length, IqCapture* capture) {
  if (!samples_in_host_order_and_finite(samples.get(), length / 4)) return ResultCode::BAD_IQ;
  capture->samples = samples.release();
  capture->pair_count = length / IQ_PAIR_BYTES;
  return ResultCode::OK;
}

}  // namespace

ResultCode parse_iq_capture(const std::uint8_t* bytes, std::uint64_t length, IqCapture* capture) {
  if (!capture_length_valid(length)) return ResultCode::BAD_IQ;
  MemPtr<float> samples(static_cast<float*>(mem_alloc(length)));
  if (!samples) return ResultCode::IO_ERROR;
  std::memcpy(samples.get(), bytes, length);
  return adopt_samples(std::move(samples), length, capture);
}

// The file is read straight into the samples array: no file buffer beside it,
// so a 57.6 MB capture costs 57.6 MB once, not twice.
ResultCode load_iq_capture(const char* path, IqCapture* capture) {
  StreamPtr stream;
  std::uint64_t length = 0;
  if (open_measured_file(path, IQ_MAX_FILE_SIZE, &stream, &length) != 0) return ResultCode::BAD_IQ;
  if (!capture_length_valid(length)) return ResultCode::BAD_IQ;
  MemPtr<float> samples(static_cast<float*>(mem_alloc(length)));
  if (!samples) return ResultCode::IO_ERROR;
  if (read_and_close(std::move(stream), samples.get(), length) != 0) return ResultCode::BAD_IQ;
  return adopt_samples(std::move(samples), length, capture);
}

void release_iq_capture(IqCapture* capture) {
  mem_release(capture->samples);
  capture->samples = nullptr;
}

}  // namespace kdsp
