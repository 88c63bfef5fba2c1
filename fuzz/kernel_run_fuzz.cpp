// Any bytes as a kernel image, run against a short fixed capture with the
// signal instructions live. Nothing may crash, leak or read out of bounds.
#include <cmath>
#include <cstdint>
#include <vector>

#include "base/memory.h"
#include "base/numbers.h"
#include "driver/driver.h"
#include "formats/kernel_image.h"

namespace kdsp {

namespace {

// 0.01 s of an FM carrier at +25 kHz.
std::vector<float> fixed_capture() {
  std::vector<float> values;
  for (int n = 0; n < 2400; ++n) {
    const double phase = TWO_PI * 25000.0 * n / 240000.0 + 2.5 * std::sin(TWO_PI * 1000.0 * n / 240000.0);
    values.push_back(static_cast<float>(std::cos(phase)));
    values.push_back(static_cast<float>(std::sin(phase)));
  }
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::vector<float> samples = fixed_capture();
  KernelImage kernel{};
  if (parse_kernel_image(data, size, &kernel) != ResultCode::OK) return 0;
  const IqCapture capture{samples.data(), samples.size() / 2};
  WavImage wav{};
  const RunOutcome outcome = run_captured_kernel(kernel, capture, &wav);
  // The promises of a run: an image exactly on success, a kernel's code only
  // from 1 to 255, a failure only with a failure code.
  const bool succeeded = outcome.end == RunEnd::SUCCEEDED;
  if (succeeded != (wav.bytes != nullptr)) __builtin_trap();
  if (outcome.end == RunEnd::KERNEL_EXIT && (outcome.exit_code < 1 || outcome.exit_code > 255)) __builtin_trap();
  if ((outcome.end == RunEnd::FAILED) != (outcome.failure != ResultCode::OK)) __builtin_trap();
  mem_release(wav.bytes);
  release_kernel_image(&kernel);
  return 0;
}

}  // namespace kdsp
