#include "vm/handle_ops.h"

#include "dsp/fm_demod.h"
#include "dsp/freq_shift.h"
#include "vm/isa.h"

namespace kdsp {

namespace {

// The slot a register names, or null when the handle is beyond the table.
HandleSlot* slot_for(VmState& vm, std::uint32_t handle) {
  return handle < HANDLE_TABLE_SIZE ? &vm.handles[handle] : nullptr;
}

// Files a new audio buffer under the first free handle from 1 up and returns
// the handle, or 0 when the table is full (the buffer is released then).
// Handles are never freed during a run, so they come out as 2, 3, 4, ...
std::uint32_t adopt_audio(VmState& vm, AudioBuffer* buffer) {
  for (std::uint32_t handle = 1; handle < HANDLE_TABLE_SIZE; ++handle) {
    HandleSlot& slot = vm.handles[handle];
    if (slot.kind != HandleKind::FREE) continue;
    slot = HandleSlot{HandleKind::AUDIO, nullptr, buffer};
    ++vm.creations;
    return handle;
  }
  free_audio_buffer(buffer);
  return 0;
}

// The common tail of FMDEMOD and FSHIFT once their signal function ran. Out
// of memory inside a signal function is a refused parameter, as every other
// failure of the function is.
StepEnd finish_creation(VmState& vm, std::uint8_t rd, int signal_result, AudioBuffer* created) {
  if (signal_result != 0) return run_failed(ResultCode::BAD_PARAM);
  const std::uint32_t handle = adopt_audio(vm, created);
  if (handle == 0) return run_failed(ResultCode::BAD_HANDLE);
  vm.regs[rd] = handle;
  return RUN_ON;
}

}  // namespace

SignalFunctions core_signal_functions(int (*emit)(void* context, const AudioBuffer& audio, double gain),
                                      void* emit_context) {
  return SignalFunctions{fm_demodulate, frequency_shift, emit, emit_context};
}

void preset_handles(VmState& vm, const IqCapture& capture) {
  for (HandleSlot& slot : vm.handles) slot = HandleSlot{HandleKind::FREE, nullptr, nullptr};
  vm.handles[CAPTURE_HANDLE] = HandleSlot{HandleKind::IQ, &capture, nullptr};
}

void release_audio_handles(VmState& vm) {
  for (HandleSlot& slot : vm.handles) {
    if (slot.kind != HandleKind::AUDIO) continue;
    free_audio_buffer(slot.audio);
    slot = HandleSlot{HandleKind::FREE, nullptr, nullptr};
  }
}

StepEnd exec_getiq(VmState& vm, std::uint32_t word) {
  vm.regs[decode_word(word).rd] = CAPTURE_HANDLE;
  return RUN_ON;
}

StepEnd exec_fmdemod(VmState& vm, std::uint32_t word, const SignalFunctions& signals) {
  const DecodedWord f = decode_word(word);
  const HandleSlot* source = slot_for(vm, vm.regs[f.ra]);
  if (source == nullptr || source->kind != HandleKind::IQ) return run_failed(ResultCode::BAD_HANDLE);
  if (vm.creations >= MAX_CREATIONS) return run_failed(ResultCode::DSP_LIMIT);
  const auto offset_hz = static_cast<std::int32_t>(vm.regs[f.rb]);
  if (offset_hz < -FMDEMOD_MAX_OFFSET_HZ || offset_hz > FMDEMOD_MAX_OFFSET_HZ) {
    return run_failed(ResultCode::BAD_PARAM);
  }
  AudioBuffer* created = nullptr;
  const int status = signals.demodulate(source->capture->samples, source->capture->pair_count, offset_hz, &created);
  return finish_creation(vm, f.rd, status, created);
}

StepEnd exec_fshift(VmState& vm, std::uint32_t word, const SignalFunctions& signals) {
  const DecodedWord f = decode_word(word);
  const HandleSlot* source = slot_for(vm, vm.regs[f.ra]);
  if (source == nullptr || source->kind != HandleKind::AUDIO) return run_failed(ResultCode::BAD_HANDLE);
  if (vm.creations >= MAX_CREATIONS) return run_failed(ResultCode::DSP_LIMIT);
  const std::uint32_t shift_hz = vm.regs[f.rb];
  if (shift_hz > FSHIFT_MAX_HZ) return run_failed(ResultCode::BAD_PARAM);

  AudioBuffer* created = nullptr;
  const int status = signals.shift(source->audio, shift_hz, &created);
  return finish_creation(vm, f.rd, status, created);
}

StepEnd exec_emit(VmState& vm, const SignalFunctions& signals) {
  const HandleSlot* source = slot_for(vm, vm.regs[SYSTEM_ARGUMENT_REGISTER]);
  if (source == nullptr || source->kind != HandleKind::AUDIO) return run_failed(ResultCode::BAD_HANDLE);
  if (vm.emitted) return run_failed(ResultCode::BAD_PARAM);
  if (signals.emit(signals.emit_context, *source->audio, EMIT_GAIN) != 0) return run_failed(ResultCode::IO_ERROR);
  vm.emitted = true;
  return RUN_ON;
}

StepEnd exec_exit(const VmState& vm) {
  const std::uint32_t code = vm.regs[SYSTEM_ARGUMENT_REGISTER];
  if (code > EXIT_MAX_CODE) return run_failed(ResultCode::BAD_PARAM);
  if (code != 0) return kernel_exited(code);
  return vm.emitted ? run_succeeded() : run_failed(ResultCode::NO_OUTPUT);
}

StepEnd exec_halt(const VmState& vm) { return vm.emitted ? run_succeeded() : run_failed(ResultCode::NO_OUTPUT); }

}  // namespace kdsp
