#include "vm/kernel_runner.h"

#include <cstring>

#include "base/byte_order.h"
#include "base/memory.h"
#include "driver/driver.h"
#include "formats/kernel_image.h"

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
  const RunOutcome run = run_captured_kernel(kernel, capture, &wav);
  outcome.end = run.end;
  outcome.result = run.failure;
  outcome.exit_code = run.exit_code;
  if (requests != nullptr) *requests = mem_request_count();
  mem_fail_request(0);
  outcome.memory.assign(kernel.memory, kernel.memory + DATA_MEMORY_SIZE);
  if (wav.bytes != nullptr) outcome.wav.assign(wav.bytes, wav.bytes + wav.length);
  mem_release(wav.bytes);
  release_kernel_image(&kernel);
  return outcome;
}

std::uint32_t word_at(const KernelOutcome& outcome, std::size_t address) {
  return read_le32(outcome.memory.data() + address);
}

}  // namespace kdsp
