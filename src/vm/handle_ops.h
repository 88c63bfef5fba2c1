// The instructions that work on the handle table or end a run: GETIQ,
// FMDEMOD, FSHIFT, EMIT, EXIT and HALT. The interpreter has already checked
// the word's field rules; each makes its remaining checks, in a fixed order,
// before it changes anything, and the first failing check decides.
#pragma once

#include <cstdint>

#include "vm/vm_state.h"

namespace kdsp {

// Empties the table, then puts the capture in slot 1.
void preset_handles(VmState& vm, const IqCapture& capture);

// Releases every audio buffer in the table (the capture is borrowed).
void release_audio_handles(VmState& vm);

// Each returns RUN_ON, or how the run ends.
StepEnd exec_getiq(VmState& vm, std::uint32_t word);
StepEnd exec_fmdemod(VmState& vm, std::uint32_t word, const SignalFunctions& signals);
StepEnd exec_fshift(VmState& vm, std::uint32_t word, const SignalFunctions& signals);
StepEnd exec_emit(VmState& vm, const SignalFunctions& signals);
StepEnd exec_exit(const VmState& vm);
StepEnd exec_halt(const VmState& vm);

}  // namespace kdsp
