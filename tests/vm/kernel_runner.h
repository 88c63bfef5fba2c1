// Runs hand-written kernels in-process and keeps what a run leaves behind.
#pragma once

#include <cstdint>
#include <vector>

#include "support/test_files.h"
#include "vm/interpreter.h"

namespace kdsp {

struct KernelOutcome {
  RunEnd end = RunEnd::FAILED;
  ResultCode result = ResultCode::OK;  // the failure; OK unless end is FAILED
  std::uint32_t exit_code = 0;         // the kernel's own EXIT code
  Bytes memory;                        // the data memory after the run
  Bytes wav;                           // the WAV image, when the run returned one
};

// A capture of a few silent pairs, for kernels that never demodulate.
std::vector<float> silent_capture(std::size_t pair_count = 16);

// Runs `code`. With `fail_request` k > 0, the k-th allocation request made
// during the run itself fails; `requests` (if given) receives how many
// requests the run made.
KernelOutcome run_words(const std::vector<std::uint32_t>& code, const Bytes& data = {}, std::uint32_t entry = 0,
                        const std::vector<float>& iq = silent_capture(), std::uint64_t fail_request = 0,
                        std::uint64_t* requests = nullptr);

// The 32-bit little-endian word at `address` of a run's memory.
std::uint32_t word_at(const KernelOutcome& outcome, std::size_t address);

}  // namespace kdsp
