#include "kdsp-synth/resample.h"

#include <soxr.h>

#include <algorithm>

#include "formats/iq_capture.h"

namespace kdsp {

int resample_to_pair_rate(const SourceAudio& audio, std::uint64_t pair_count, std::vector<float>* converted,
                          Failure* failure) {
  std::vector<float> output(pair_count, 0.0f);
  if (audio.sample_rate == IQ_SAMPLE_RATE) {
    std::size_t copied = std::min(output.size(), audio.samples.size());
    std::copy_n(audio.samples.begin(), copied, output.begin());
    *converted = std::move(output);
    return 0;
  }
  // One thread: the converter's result must not depend on how work is split.
  soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
  soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  std::size_t used_in = 0;
  std::size_t produced = 0;
  const soxr_error_t refused =
      soxr_oneshot(audio.sample_rate, IQ_SAMPLE_RATE, 1, audio.samples.data(), audio.samples.size(), &used_in,
                   output.data(), output.size(), &produced, &io, &quality, &runtime);
  if (refused != nullptr) {
    *failure = Failure{std::string("cannot convert the audio rate: ") + refused};
    return -1;
  }
  *converted = std::move(output);
  return 0;
}

}  // namespace kdsp
