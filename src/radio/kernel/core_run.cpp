#include "radio/kernel/core_run.h"

#include <cmath>

#include "base/memory.h"
#include "base/output_file.h"
#include "base/result_code.h"
#include "driver/driver.h"
#include "dsp/channel_decimator.h"
#include "dsp/fm_demod.h"
#include "dsp/voice_band.h"
#include "formats/iq_capture.h"
#include "formats/kernel_image.h"
#include "formats/wav.h"

namespace kdsp {

const std::uint32_t CORE_PAIR_RATE = IQ_SAMPLE_RATE;
const std::uint64_t CORE_MAX_PAIRS = IQ_MAX_PAIRS;
const std::uint64_t CORE_MIN_PAIRS = FM_MIN_PAIR_COUNT;
const std::uint32_t CORE_AUDIO_RATE = AUDIO_SAMPLE_RATE;
const std::uint32_t CORE_PAIRS_PER_SAMPLE = DECIMATION_FACTOR;
const std::int32_t CORE_MAX_OFFSET_HZ = FMDEMOD_MAX_OFFSET_HZ;
const std::uint64_t CORE_WAV_HEADER_BYTES = WAV_HEADER_SIZE;
const std::uint64_t CORE_WAV_MAX_SAMPLES = WAV_MAX_SAMPLES;

namespace {

// One run's kernel and WAV image, released on every path.
struct CoreRun {
  KernelImage kernel{};
  WavImage wav{};
  CoreRun() = default;
  CoreRun(const CoreRun&) = delete;
  CoreRun& operator=(const CoreRun&) = delete;
  ~CoreRun() {
    mem_release(wav.bytes);
    release_kernel_image(&kernel);
  }
};

// kdsp's loader refuses a capture holding an infinity or a NaN; a capture
// handed over in memory gets the same check.
bool all_finite(const float* values, std::uint64_t count) {
  for (std::uint64_t i = 0; i < count; ++i) {
    if (!std::isfinite(values[i])) return false;
  }
  return true;
}

}  // namespace

int check_kernel_bytes(std::span<const std::uint8_t> image, std::string* reason) {
  KernelHeader header{};
  const char* refusal = check_kernel_file(image.data(), image.size(), &header);
  if (refusal == nullptr) return 0;
  *reason = refusal;
  return -1;
}

int run_kernel_on_capture(std::span<const std::uint8_t> kernel_image, const float* iq_values, std::uint64_t pair_count,
                          std::vector<std::uint8_t>* wav, Failure* failure) {
  if (pair_count == 0 || pair_count > IQ_MAX_PAIRS) {
    *failure = Failure{"a capture of " + std::to_string(pair_count) + " pairs is not one kdsp accepts"};
    return -1;
  }
  if (!all_finite(iq_values, 2 * pair_count)) {
    *failure = Failure{"it holds a value that is not a finite number (or one too large to filter)"};
    return -1;
  }
  CoreRun run;
  const ResultCode loaded = parse_kernel_image(kernel_image.data(), kernel_image.size(), &run.kernel);
  if (loaded != ResultCode::OK) {
    *failure = Failure{std::string("the kernel could not be loaded: ") + result_name(loaded)};
    return -1;
  }
  // The core only reads the capture; the record views the caller's values.
  const IqCapture capture{const_cast<float*>(iq_values), pair_count};
  const RunOutcome outcome = run_captured_kernel(run.kernel, capture, &run.wav);
  switch (outcome.end) {
    case RunEnd::SUCCEEDED: break;
    case RunEnd::KERNEL_EXIT:
      *failure = Failure{"the kernel ended with EXIT code " + std::to_string(outcome.exit_code)};
      return -1;
    case RunEnd::FAILED:
      *failure = Failure{std::string("the kernel run failed with ") + result_name(outcome.failure)};
      return -1;
  }
  wav->assign(run.wav.bytes, run.wav.bytes + run.wav.length);
  return 0;
}

int check_emitted_samples(std::span<const std::uint8_t> wav, std::uint64_t expected, Failure* failure) {
  if (wav.size() == CORE_WAV_HEADER_BYTES + 2 * expected) return 0;
  *failure = Failure{"the kernel emitted " + std::to_string((wav.size() - CORE_WAV_HEADER_BYTES) / 2) +
                     " audio samples instead of " + std::to_string(expected)};
  return -1;
}

int write_output_file(const char* path, std::span<const std::uint8_t> bytes) {
  return write_output(path, bytes.data(), bytes.size());
}

void OutputStreamRelease::operator()(OutputStream* stream) const { delete stream; }

int open_streamed_output(const char* path, StreamedOutput* out) {
  StreamedOutput opened(new OutputStream);
  if (open_output(path, opened.get()) != 0) return -1;
  *out = std::move(opened);
  return 0;
}

int append_streamed_output(OutputStream* out, std::span<const std::uint8_t> bytes) {
  return append_output(out, bytes.data(), bytes.size());
}

int commit_streamed_output(StreamedOutput* out) {
  const int committed = commit_output(out->get());
  out->reset();
  return committed;
}

}  // namespace kdsp
