// The state of one kernel run: registers, program counter, step budget and
// the handle table. Lives on the stack of run_kernel; nothing is allocated
// per instruction.
#pragma once

#include <cstdint>
#include <optional>

#include "formats/audio_buffer.h"
#include "formats/iq_capture.h"
#include "formats/kernel_image.h"
#include "vm/interpreter.h"

namespace kdsp {

inline constexpr std::uint32_t REGISTER_COUNT = 16;
inline constexpr std::uint32_t HANDLE_TABLE_SIZE = 128;
inline constexpr std::uint32_t CAPTURE_HANDLE = 1;
inline constexpr std::uint32_t MAX_CREATIONS = 32;  // audio handles per run
inline constexpr std::uint32_t EXIT_MAX_CODE = 255;
inline constexpr double EMIT_GAIN = 0.72;

enum class HandleKind : std::uint32_t {
  FREE = 0,
  IQ = 1,
  AUDIO = 2,
};

// One entry of the handle table: the borrowed capture for an IQ handle, an
// audio buffer the table owns for an AUDIO handle, nothing when free.
struct HandleSlot {
  HandleKind kind;
  const IqCapture* capture;
  AudioBuffer* audio;
};

struct VmState {
  std::uint32_t regs[REGISTER_COUNT];
  std::uint64_t pc;
  std::uint32_t steps_left;
  HandleSlot handles[HANDLE_TABLE_SIZE];
  std::uint32_t creations;  // audio handles created so far
  bool emitted;             // an EMIT has succeeded
};

// Everything one run touches besides its own state.
struct RunContext {
  KernelImage* kernel;
  const SignalFunctions* signals;
};

// What an instruction leaves: nothing when the run goes on, else how it ends.
using StepEnd = std::optional<RunOutcome>;
inline constexpr StepEnd RUN_ON = std::nullopt;

}  // namespace kdsp
