#include "vm/handle_ops.h"

#include "base/result_code.h"
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
    if (slot.kind != HANDLE_FREE) continue;
    slot = HandleSlot{HANDLE_AUDIO, buffer, buffer->count};
    ++vm.creations;
    return handle;
  }
  free_audio_buffer(buffer);
  return 0;
}

// The common tail of FMDEMOD and FSHIFT once their signal function ran.
int finish_creation(VmState& vm, std::uint8_t rd, int signal_result, AudioBuffer* created) {
  if (signal_result != 0) return BAD_PARAM;
  const std::uint32_t handle = adopt_audio(vm, created);
  if (handle == 0) return BAD_HANDLE;
  vm.regs[rd] = handle;
  return RUN_ON;
}

}  // namespace

void preset_handles(VmState& vm, const IqCapture& capture) {
  for (HandleSlot& slot : vm.handles) slot = HandleSlot{HANDLE_FREE, nullptr, 0};
  // The table only reads the capture; it stays the caller's.
  vm.handles[CAPTURE_HANDLE] =
      HandleSlot{HANDLE_IQ, const_cast<IqCapture*>(&capture), capture.pair_count};
}

void release_audio_handles(VmState& vm) {
  for (std::uint32_t handle = 1; handle < HANDLE_TABLE_SIZE; ++handle) {
    HandleSlot& slot = vm.handles[handle];
    if (slot.kind != HANDLE_AUDIO) continue;
    free_audio_buffer(static_cast<AudioBuffer*>(slot.object));
    slot = HandleSlot{HANDLE_FREE, nullptr, 0};
  }
}

int exec_getiq(VmState& vm, std::uint32_t word) {
  vm.regs[decode_word(word).rd] = CAPTURE_HANDLE;
  return RUN_ON;
}

int exec_fmdemod(VmState& vm, std::uint32_t word) {
  const DecodedWord f = decode_word(word);
  const HandleSlot* source = slot_for(vm, vm.regs[f.ra]);
  if (source == nullptr || source->kind != HANDLE_IQ) return BAD_HANDLE;
  if (vm.creations >= MAX_CREATIONS) return DSP_LIMIT;
  const auto offset_hz = static_cast<std::int32_t>(vm.regs[f.rb]);
  if (offset_hz < -FMDEMOD_MAX_OFFSET_HZ || offset_hz > FMDEMOD_MAX_OFFSET_HZ) return BAD_PARAM;

  const auto* capture = static_cast<const IqCapture*>(source->object);
  AudioBuffer* created = nullptr;
  const int status = fm_demodulate(capture->samples, capture->pair_count, offset_hz, &created);
  return finish_creation(vm, f.rd, status, created);
}

int exec_fshift(VmState& vm, std::uint32_t word) {
  const DecodedWord f = decode_word(word);
  const HandleSlot* source = slot_for(vm, vm.regs[f.ra]);
  if (source == nullptr || source->kind != HANDLE_AUDIO) return BAD_HANDLE;
  if (vm.creations >= MAX_CREATIONS) return DSP_LIMIT;
  const std::uint32_t shift_hz = vm.regs[f.rb];
  if (shift_hz > FSHIFT_MAX_HZ) return BAD_PARAM;

  AudioBuffer* created = nullptr;
  const int status = frequency_shift(static_cast<const AudioBuffer*>(source->object), shift_hz, &created);
  return finish_creation(vm, f.rd, status, created);
}

int exec_emit(VmState& vm, RunContext& run) {
  const HandleSlot* source = slot_for(vm, vm.regs[1]);
  if (source == nullptr || source->kind != HANDLE_AUDIO) return BAD_HANDLE;
  if (vm.emitted) return BAD_PARAM;
  const auto* audio = static_cast<const AudioBuffer*>(source->object);
  if (encode_wav(*audio, &run.wav->bytes, &run.wav->length, EMIT_GAIN) != 0) return IO_ERROR;
  vm.emitted = true;
  return RUN_ON;
}

int exec_exit(const VmState& vm, RunContext& run) {
  const std::uint32_t code = vm.regs[1];
  if (code > EXIT_MAX_CODE) return BAD_PARAM;
  if (code == 0 && !vm.emitted) return NO_OUTPUT;
  if (code != 0) *run.exit_flag = 1;
  return static_cast<int>(code);
}

int exec_halt(const VmState& vm) { return vm.emitted ? RESULT_OK : NO_OUTPUT; }

}  // namespace kdsp
