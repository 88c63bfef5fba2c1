// Any bytes as a capture file.
#include <cmath>
#include <cstdint>

#include "formats/iq_capture.h"

namespace kdsp {

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  IqCapture capture{};
  if (parse_iq_capture(data, size, &capture) != ResultCode::OK) {
    if (capture.samples != nullptr) __builtin_trap();
    return 0;
  }
  if (capture.pair_count * 8 != size) __builtin_trap();
  for (std::uint64_t i = 0; i < 2 * capture.pair_count; ++i) {
    if (!std::isfinite(capture.samples[i])) __builtin_trap();
  }
  release_iq_capture(&capture);
  return 0;
}

}  // namespace kdsp
