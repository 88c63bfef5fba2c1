// The kernel interpreter: one run of a loaded kernel against a capture.
#pragma once

#include <cstdint>

#include "base/result_code.h"
#include "formats/audio_buffer.h"
#include "formats/iq_capture.h"
#include "formats/kernel_image.h"

namespace kdsp {

// The instructions a run may complete before it ends with STEP_LIMIT.
inline constexpr std::uint32_t MAX_STEPS = 100000;

// The work behind the signal instructions, handed in by the caller: the
// driver passes the real signal functions and an emit that encodes the WAV;
// a test or a fuzz harness may pass cheap stand-ins that keep the contracts.
struct SignalFunctions {
  // FMDEMOD: 0 with *result a new buffer, or -1 (the run ends with BAD_PARAM).
  int (*demodulate)(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz, AudioBuffer** result);
  // FSHIFT: 0 with *out a new buffer, or -1 (BAD_PARAM).
  int (*shift)(const AudioBuffer* in, std::uint32_t shift_hz, AudioBuffer** out);
  // EMIT: takes the run's one audio signal with the output gain, at the
  // moment the instruction executes; 0, or -1 (the run ends with IO_ERROR).
  // The audio stays the run's; whatever emit made of it is the caller's.
  int (*emit)(void* context, const AudioBuffer& audio, double gain);
  void* emit_context;
};

// The real FMDEMOD and FSHIFT, with the given emit.
SignalFunctions core_signal_functions(int (*emit)(void* context, const AudioBuffer& audio, double gain),
                                      void* emit_context);

// How a run ended.
enum class RunEnd {
  SUCCEEDED,    // HALT, or EXIT 0, after a successful EMIT
  KERNEL_EXIT,  // EXIT with the kernel's own code 1..255
  FAILED,       // a failure: `failure` says which
};

struct RunOutcome {
  RunEnd end;
  ResultCode failure;       // OK unless end == FAILED
  std::uint32_t exit_code;  // 1..255 when end == KERNEL_EXIT, else 0
};

constexpr RunOutcome run_succeeded() { return RunOutcome{RunEnd::SUCCEEDED, ResultCode::OK, 0}; }
constexpr RunOutcome run_failed(ResultCode failure) { return RunOutcome{RunEnd::FAILED, failure, 0}; }
constexpr RunOutcome kernel_exited(std::uint32_t code) { return RunOutcome{RunEnd::KERNEL_EXIT, ResultCode::OK, code}; }

// The process exit status of an outcome: 0, the kernel's code, or the failure's.
constexpr int outcome_status(const RunOutcome& outcome) {
  switch (outcome.end) {
    case RunEnd::SUCCEEDED: return 0;
    case RunEnd::KERNEL_EXIT: return static_cast<int>(outcome.exit_code);
    case RunEnd::FAILED: break;
  }
  return exit_status(outcome.failure);
}

// Runs `kernel` (its memory is changed in place) against `capture`, which is
// only read, with `signals` behind the signal instructions. Every audio
// buffer created during the run is released before it returns. `emit` is
// called at most once, and only a run that SUCCEEDED keeps what it made: on
// any other end the caller discards it. `step_budget` is the number of
// instructions the run may complete: MAX_STEPS for every real run; a fuzz
// harness lowers it (to at least 1) so that looping kernels cost little.
RunOutcome run_kernel(KernelImage& kernel, const IqCapture& capture, const SignalFunctions& signals,
                      std::uint32_t step_budget = MAX_STEPS);

}  // namespace kdsp
