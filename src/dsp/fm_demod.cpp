#include "dsp/fm_demod.h"

#include <cmath>

#include "base/memory.h"
#include "dsp/channel_decimator.h"
#include "dsp/channel_filter.h"
#include "dsp/detail.h"
#include "dsp/voice_band.h"

namespace kdsp {

namespace {

// The phase step from b to a: the angle of a * conj(b), scaled and narrowed.
float phase_step(const Complex& a, const Complex& b) {
  // Imaginary and real part of a * conj(b): their angle is the phase step.
  const double y = b.re * a.im - a.re * b.im;
  const double x = a.im * b.im + a.re * b.re;
  return static_cast<float>(std::atan2(y, x) * FM_DISCRIMINATOR_SCALE);
}

// audio[m] = the phase step from baseband[m] to baseband[m + 1], for
// m = 0 .. step_count-1, each also added, as it is written, to *sum. Taken
// in the order of the samples this is the very sum that the DC removal
// needs, and its chain of dependent additions overlaps the atan2 calls
// instead of making a pass of its own.
void phase_steps_summed(const Complex* baseband, std::uint64_t step_count, float* audio, double* sum) {
  double running = *sum;
  for (std::uint64_t m = 0; m < step_count; ++m) {
    audio[m] = phase_step(baseband[m + 1], baseband[m]);
    running = running + static_cast<double>(audio[m]);
  }
  *sum = running;
}

// The second half of the DC removal, once the sum of all samples is known.
void subtract_mean(float* audio, std::uint64_t count, double sum) {
  const float mean = static_cast<float>(sum / static_cast<double>(count));
  for (std::uint64_t i = 0; i < count; ++i) audio[i] = audio[i] - mean;  // in float
}

// Stages 1 to 3 block by block into audio[0 .. pair_count/5 - 1], with the
// sum of the DC removal (stage 4) taken on the way; returns that sum. block
// has room for DECIMATOR_BLOCK_OUTPUTS + 1 values: slot 0 carries the
// previous block's last baseband value, whose phase step to the block's
// first value is the block's first audio sample.
double discriminate_by_blocks(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz,
                              const double* taps, double* window, Complex* block, float* audio) {
  ChannelDecimator decimator;
  decimator_start(iq_samples, pair_count, offset_hz, taps, window, &decimator);
  const std::uint64_t first_count = decimate_next_block(&decimator, block + 1);
  double sum = 0.0;
  if (first_count == 0) return sum;
  // As fm_discriminate: the first sample is 0, then the steps.
  audio[0] = 0.0f;
  sum = sum + static_cast<double>(audio[0]);
  phase_steps_summed(block + 1, first_count - 1, audio + 1, &sum);
  std::uint64_t done = first_count;
  block[0] = block[first_count];
  while (const std::uint64_t count = decimate_next_block(&decimator, block + 1)) {
    phase_steps_summed(block, count, audio + done, &sum);
    done += count;
    block[0] = block[count];
  }
  return sum;
}

}  // namespace

void detail::fm_discriminate(const Complex* baseband, std::uint64_t count, float* audio) {
  if (count == 0) return;
  audio[0] = 0.0f;
  for (std::uint64_t m = 1; m < count; ++m) audio[m] = phase_step(baseband[m], baseband[m - 1]);
}

int fm_demodulate(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz, AudioBuffer** result) {
  if (iq_samples == nullptr) return -1;
  if (result == nullptr) return -1;
  if (offset_hz < -FMDEMOD_MAX_OFFSET_HZ || offset_hz > FMDEMOD_MAX_OFFSET_HZ) return -1;
  if (pair_count < FM_MIN_PAIR_COUNT || pair_count > FM_MAX_PAIR_COUNT) return -1;

  // The mixer writes into a small window that the filter drains block by
  // block (see channel_decimator.h), and the discriminator takes each block
  // as it comes: neither a full-rate copy of the capture nor a baseband array.
  // Every element of the samples is written before it is read.
  MemPtr<double> window(static_cast<double*>(mem_alloc(DECIMATOR_WINDOW_DOUBLES * sizeof(double))));
  MemPtr<Complex> block(static_cast<Complex*>(mem_alloc((DECIMATOR_BLOCK_OUTPUTS + 1) * sizeof(Complex))));
  AudioBufferOwner record(static_cast<AudioBuffer*>(mem_alloc_zeroed(1, sizeof(AudioBuffer))));
  if (!window || !block || !record) return -1;
  const std::uint64_t audio_count = pair_count / DECIMATION_FACTOR;
  record->samples = static_cast<float*>(mem_alloc(audio_count * sizeof(float)));
  if (record->samples == nullptr) return -1;

  double taps[CHANNEL_FILTER_TAPS];
  design_channel_filter(taps);
  const double sum =
      discriminate_by_blocks(iq_samples, pair_count, offset_hz, taps, window.get(), block.get(), record->samples);
  window.reset();
  block.reset();
  subtract_mean(record->samples, audio_count, sum);

  if (voice_band_filter(record->samples, audio_count) != 0) return -1;
  record->count = audio_count;
  record->sample_rate = AUDIO_SAMPLE_RATE;
  *result = record.release();
  return 0;
}

}  // namespace kdsp
