// The state of one kernel run: registers, program counter, step budget and
// the handle table. Lives on the stack of run_kernel; nothing is allocated
// per instruction.
#pragma once

#include <cstdint>

#include "formats/wav.h"
#include "formats/iq_capture.h"
#include "formats/kernel_image.h"

namespace kdsp {

inline constexpr std::uint32_t REGISTER_COUNT = 16;
inline constexpr std::uint32_t MAX_STEPS = 100000;
inline constexpr std::uint32_t HANDLE_TABLE_SIZE = 128;
inline constexpr std::uint32_t CAPTURE_HANDLE = 1;
inline constexpr std::uint32_t MAX_CREATIONS = 32;  // audio handles per run
inline constexpr std::uint32_t EXIT_MAX_CODE = 255;
inline constexpr double EMIT_GAIN = 0.72;

enum HandleKind : std::uint32_t {
  HANDLE_FREE = 0,
  HANDLE_IQ = 1,
  HANDLE_AUDIO = 2,
};

// One entry of the handle table. `object` is the IqCapture for HANDLE_IQ,
// the AudioBuffer for HANDLE_AUDIO, null when free.
struct HandleSlot {
  HandleKind kind;
  void* object;
  std::uint64_t length;  // pair_count or sample count when filled
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
  WavImage* wav;
  int* exit_flag;
};

}  // namespace kdsp
