// The interpreter alone: any kernel image, run with cheap stand-ins behind
// FMDEMOD and FSHIFT that keep the real functions' contracts (their
// parameter checks, -1 for a refusal, allocation through the mem seam, audio
// of the length the real ones make) but skip the signal work, so that the
// fuzzer spends its time on control flow, field rules and the handle table.
// EMIT goes through the tool's own encoder, which is cheap on such audio.
// The image is checked by the loader's own check_kernel_file, but its data
// memory is a mapping kept across runs (see DataMemory), not a fresh MiB.
//
// Each input that allocates anything is run twice: once as it is, once with
// one of its allocation requests (chosen by a hash of the input) failing, so
// that every failure path of the run is reached over time. Besides memory
// safety and leaks, the harness checks what a run promises:
//   - a stand-in only ever receives the run's capture, or audio made during
//     this run and still live; emit is called at most once, with the gain;
//   - a signal function's -1 ends the run with BAD_PARAM, a failed emit with
//     IO_ERROR, and nothing else follows them;
//   - a run SUCCEEDED exactly when emit succeeded and the run ended well,
//     the image then holding the emitted audio; a kernel's own code is 1..255.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "base/memory.h"
#include "driver/driver.h"
#include "dsp/channel_decimator.h"
#include "dsp/fm_demod.h"
#include "dsp/freq_shift.h"
#include "dsp/voice_band.h"
#include "formats/kernel_image.h"
#include "formats/wav.h"
#include "vm/interpreter.h"
#include "vm/vm_state.h"

namespace kdsp {

namespace {

// 0.01 s at 240 000 pairs per second; the stand-ins never read the values.
constexpr std::uint64_t CAPTURE_PAIRS = 2400;
// A kernel that loops to the real budget of 100 000 steps costs most of a
// millisecond under the sanitizers; every control-flow and handle rule is
// reached in far fewer steps, and the budget's own end still is.
constexpr std::uint32_t STEP_BUDGET = 4096;

// One input in sixteen runs on a capture that loads but is too short to
// demodulate.
constexpr std::uint64_t SHORT_CAPTURE_PAIRS = FM_MIN_PAIR_COUNT - 1;

// What the stand-ins saw during one run.
struct Ledger {
  const IqCapture* capture = nullptr;
  std::vector<const AudioBuffer*> made;  // audio made in this run, in order
  int refusals = 0;                      // -1 returned by a stand-in
  int emits = 0;
  int emit_failures = 0;
  std::uint64_t emitted_samples = 0;
};

// The stand-ins take no context, so the ledger of the run in progress is here.
Ledger* current = nullptr;

[[noreturn]] void broken_promise() { __builtin_trap(); }

bool made_in_this_run(const AudioBuffer* audio) {
  return std::find(current->made.begin(), current->made.end(), audio) != current->made.end();
}

// A buffer as the real functions build one: record, then samples, both from
// the mem seam; null when either request fails (nothing left allocated).
// The samples alternate around `level`, cheap to write and to encode, and
// reach past full scale for large levels so that clipping is exercised.
AudioBuffer* make_audio(std::uint64_t count, float level) {
  AudioBufferOwner record(static_cast<AudioBuffer*>(mem_alloc_zeroed(1, sizeof(AudioBuffer))));
  if (!record) return nullptr;
  record->samples = static_cast<float*>(mem_alloc(count * sizeof(float)));
  if (record->samples == nullptr) return nullptr;
  record->count = count;
  record->sample_rate = AUDIO_SAMPLE_RATE;
  for (std::uint64_t i = 0; i < count; ++i) record->samples[i] = (i % 2 == 0) ? level : -level;
  current->made.push_back(record.get());
  return record.release();
}

int refuse() {
  ++current->refusals;
  return -1;
}

int stand_in_demodulate(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz,
                        AudioBuffer** result) {
  if (iq_samples != current->capture->samples || pair_count != current->capture->pair_count) broken_promise();
  if (offset_hz < -FMDEMOD_MAX_OFFSET_HZ || offset_hz > FMDEMOD_MAX_OFFSET_HZ) return refuse();
  if (pair_count < FM_MIN_PAIR_COUNT) return refuse();
  AudioBuffer* audio = make_audio(pair_count / DECIMATION_FACTOR, static_cast<float>(offset_hz) / 50000.0f);
  if (audio == nullptr) return refuse();
  *result = audio;
  return 0;
}

int stand_in_shift(const AudioBuffer* in, std::uint32_t shift_hz, AudioBuffer** out) {
  if (!made_in_this_run(in)) broken_promise();
  if (in->sample_rate != AUDIO_SAMPLE_RATE || in->count == 0 || shift_hz > FSHIFT_MAX_HZ) return refuse();
  const float level = in->samples[0] * (1.0f - static_cast<float>(shift_hz) / 20000.0f);
  AudioBuffer* audio = make_audio(in->count, level);
  if (audio == nullptr) return refuse();
  *out = audio;
  return 0;
}

int checked_emit(void* context, const AudioBuffer& audio, double gain) {
  ++current->emits;
  if (current->emits > 1 || !made_in_this_run(&audio) || gain != EMIT_GAIN) broken_promise();
  if (encode_emitted_wav(context, audio, gain) != 0) {
    ++current->emit_failures;
    return -1;
  }
  current->emitted_samples = audio.count;
  return 0;
}

// The kernel's data memory, mapped once between two inaccessible guard
// pages, so that a load or store the interpreter let past either end faults
// at once. parse_kernel_image takes a fresh zeroed MiB per run, which under
// the sanitizers costs several times the run itself; here only the pages a
// run touched are given back (MADV_DONTNEED), and the next run finds zeros.
class DataMemory {
 public:
  DataMemory() {
    page_ = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    void* mapping = ::mmap(nullptr, DATA_MEMORY_SIZE + 2 * page_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) __builtin_trap();
    bytes_ = static_cast<std::uint8_t*>(mapping) + page_;
    if (::mprotect(bytes_, DATA_MEMORY_SIZE, PROT_READ | PROT_WRITE) != 0) __builtin_trap();
  }
  DataMemory(const DataMemory&) = delete;
  DataMemory& operator=(const DataMemory&) = delete;

  // The memory holding `data` at address 0 and zeros after it.
  std::uint8_t* fill(const std::uint8_t* data, std::size_t size) {
    if (size > 0) std::memcpy(bytes_, data, size);
    return bytes_;
  }
  void clear() {
    if (::madvise(bytes_, DATA_MEMORY_SIZE, MADV_DONTNEED) != 0) __builtin_trap();
  }

 private:
  std::size_t page_ = 0;
  std::uint8_t* bytes_ = nullptr;
};

// Runs the image once with the stand-ins; checks the outcome against what
// the stand-ins saw. Returns the number of allocation requests the run made.
std::uint64_t run_and_check(const std::uint8_t* data, std::size_t size, const IqCapture& capture,
                            std::uint64_t fail_request) {
  static DataMemory memory;
  KernelHeader header{};
  if (check_kernel_file(data, size, &header) != nullptr) return 0;
  std::vector<std::uint32_t> code(header.code_count);
  for (std::uint32_t i = 0; i < header.code_count; ++i) code[i] = read_le32(data + KERNEL_HEADER_SIZE + 4ull * i);
  KernelImage kernel{.code = code.data(),
                     .code_count = header.code_count,
                     .entry = header.entry,
                     .memory = memory.fill(data + KERNEL_HEADER_SIZE + 4ull * header.code_count, header.data_size),
                     .data_size = header.data_size};
  Ledger ledger;
  ledger.capture = &capture;
  current = &ledger;
  WavImage wav{};
  const SignalFunctions signals{stand_in_demodulate, stand_in_shift, checked_emit, &wav};

  mem_fail_request(fail_request);
  const RunOutcome outcome = run_kernel(kernel, capture, signals, STEP_BUDGET);
  const std::uint64_t requests = mem_request_count();
  mem_fail_request(0);
  current = nullptr;
  memory.clear();

  const bool succeeded = outcome.end == RunEnd::SUCCEEDED;
  const bool emitted = ledger.emits == 1 && ledger.emit_failures == 0;
  if ((outcome.end == RunEnd::FAILED) != (outcome.failure != ResultCode::OK)) broken_promise();
  if (outcome.end == RunEnd::KERNEL_EXIT && (outcome.exit_code < 1 || outcome.exit_code > EXIT_MAX_CODE)) {
    broken_promise();
  }
  if (ledger.refusals > 1 || ledger.emit_failures > 1) broken_promise();
  if (ledger.refusals == 1 && outcome.failure != ResultCode::BAD_PARAM) broken_promise();
  if (ledger.emit_failures == 1 && outcome.failure != ResultCode::IO_ERROR) broken_promise();
  if (succeeded && (!emitted || wav.length != WAV_HEADER_SIZE + 2 * ledger.emitted_samples)) broken_promise();
  if ((wav.bytes != nullptr) != emitted) broken_promise();
  if (fail_request != 0 && ledger.refusals + ledger.emit_failures != 1) broken_promise();
  mem_release(wav.bytes);
  return requests;
}

std::uint64_t fnv1a(const std::uint8_t* data, std::size_t size) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 0x100000001B3ull;
  return hash;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::vector<float> samples(2 * CAPTURE_PAIRS, 0.0f);
  const std::uint64_t hash = fnv1a(data, size);
  const IqCapture capture{samples.data(), hash % 16 == 0 ? SHORT_CAPTURE_PAIRS : CAPTURE_PAIRS};
  const std::uint64_t requests = run_and_check(data, size, capture, 0);
  if (requests > 0) run_and_check(data, size, capture, 1 + (hash >> 4) % requests);
  return 0;
}

}  // namespace kdsp
