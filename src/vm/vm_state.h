// The state of one kernel run: registers, program counter, step budget and
// the handle table. Lives on the stack of run_kernel; nothing is allocated
// per instruction.
#pragma once

#include <cstdint>

#include "audio/wav.h"
#include "base/limits.h"
#include "driver/iq_capture.h"
#include "driver/kernel_image.h"

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
