#include "vm/kernel_runner.h"

#include <cstring>

#include "formats/kernel_image.h"
#include "base/memory.h"
#include "vm/interpreter.h"

namespace kdsp {

std::vector<float> silent_capture(std::size_t pair_count) { return std::vector<float>(2 * pair_count, 0.0f); }

KernelOutcome run_words(const std::vector<std::uint32_t>& code, const Bytes& data, std::uint32_t entry,
                        const std::vector<float>& iq, std::uint64_t fail_request, std::uint64_t* requests) {
  KernelImage kernel{};
  kernel.code = static_cast<std::uint32_t*>(mem_alloc(code.size() * 4));
  std::memcpy(kernel.code, code.data(), code.size() * 4);
  kernel.code_count = code.size();
  kernel.entry = entry;
  kernel.memory = static_cast<std::uint8_t*>(mem_alloc_zeroed(DATA_MEMORY_SIZE, 1));
  if (!data.empty()) std::memcpy(kernel.memory, data.data(), data.size());

  std::vector<float> samples = iq;
  const IqCapture capture{samples.data(), samples.size() / 2};
  WavImage wav{};
  KernelOutcome outcome;
  mem_fail_request(fail_request);
  outcome.result = run_kernel(kernel, capture, wav, outcome.exit_flag);
  if (requests != nullptr) *requests = mem_request_count();
  mem_fail_request(0);
  outcome.memory.assign(kernel.memory, kernel.memory + DATA_MEMORY_SIZE);
  if (wav.bytes != nullptr) outcome.wav.assign(wav.bytes, wav.bytes + wav.length);
  mem_release(wav.bytes);
  release_kernel_image(&kernel);
  return outcome;
}

std::uint32_t word_at(const KernelOutcome& outcome, std::size_t address) {
  const std::uint8_t* p = outcome.memory.data() + address;
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

}  // namespace kdsp
