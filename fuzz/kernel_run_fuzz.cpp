// Any bytes as a kernel image, run against a short fixed capture with the
// signal instructions live. Nothing may crash, leak or read out of bounds.
#include <cmath>
#include <cstdint>
#include <vector>

#include "base/memory.h"
#include "formats/kernel_image.h"
#include "vm/interpreter.h"

namespace kdsp {

namespace {

// 0.01 s of an FM carrier at +25 kHz.
std::vector<float> fixed_capture() {
  std::vector<float> values;
  for (int n = 0; n < 2400; ++n) {
    const double phase = 2.0 * M_PI * 25000.0 * n / 240000.0 + 2.5 * std::sin(2.0 * M_PI * 1000.0 * n / 240000.0);
    values.push_back(static_cast<float>(std::cos(phase)));
    values.push_back(static_cast<float>(std::sin(phase)));
  }
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::vector<float> samples = fixed_capture();
  KernelImage kernel{};
  if (parse_kernel_image(data, size, &kernel) != 0) return 0;
  const IqCapture capture{samples.data(), samples.size() / 2};
  WavImage wav{};
  int exit_flag = 0;
  const int result = run_kernel(kernel, capture, wav, exit_flag);
  // The promises of a run: an image exactly on success, a flag only with a code.
  if ((result == 0) != (wav.bytes != nullptr) || (exit_flag != 0 && (result < 1 || result > 255))) __builtin_trap();
  mem_release(wav.bytes);
  release_kernel_image(&kernel);
  return 0;
}

}  // namespace kdsp
