#include "dsp/fm_demod.h"

#include <cmath>

#include "base/limits.h"
#include "base/memory.h"
#include "dsp/channel_decimator.h"
#include "dsp/channel_filter.h"
#include "dsp/voice_band.h"

void fm_discriminate(const Complex* baseband, std::uint64_t count, float* audio) {
  if (count == 0) return;
  audio[0] = 0.0f;
  for (std::uint64_t m = 1; m < count; ++m) {
    const Complex a = baseband[m];
    const Complex b = baseband[m - 1];
    // Imaginary and real part of a * conj(b): their angle is the phase step.
    const double y = b.re * a.im - a.re * b.im;
    const double x = a.im * b.im + a.re * b.re;
    audio[m] = static_cast<float>(std::atan2(y, x) * FM_DISCRIMINATOR_SCALE);
  }
}

void fm_remove_dc(float* audio, std::uint64_t count) {
  if (count == 0) return;
  double sum = 0.0;
  for (std::uint64_t i = 0; i < count; ++i) sum = sum + static_cast<double>(audio[i]);
  const float mean = static_cast<float>(sum / static_cast<double>(count));
  for (std::uint64_t i = 0; i < count; ++i) audio[i] = audio[i] - mean;  // in float
}

int fm_demodulate(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz,
                  AudioBuffer** result) {
  if (iq_samples == nullptr) return -1;
  if (result == nullptr) return -1;
  if (offset_hz < -FMDEMOD_MAX_OFFSET_HZ || offset_hz > FMDEMOD_MAX_OFFSET_HZ) return -1;
  if (pair_count < FM_MIN_PAIR_COUNT || pair_count > FM_MAX_PAIR_COUNT) return -1;

  // The mixer writes into a small window that the filter drains block by
  // block (see channel_decimator.h): no full-rate copy of the capture.
  MemPtr<double> window(static_cast<double*>(mem_alloc(DECIMATOR_WINDOW_DOUBLES * sizeof(double))));
  if (!window) return -1;

  // Both requested before either is tested. Every element of the baseband
  // and the samples is written before it is read: no zero-filling needed.
  const std::uint64_t audio_count = pair_count / DECIMATION_FACTOR;
  MemPtr<Complex> baseband(static_cast<Complex*>(mem_alloc(audio_count * sizeof(Complex))));
  AudioBufferOwner record(static_cast<AudioBuffer*>(mem_alloc_zeroed(1, sizeof(AudioBuffer))));
  if (!baseband || !record) return -1;
  record->samples = static_cast<float*>(mem_alloc(audio_count * sizeof(float)));
  if (record->samples == nullptr) return -1;

  double taps[CHANNEL_FILTER_TAPS];
  design_channel_filter(taps);
  mix_and_decimate(iq_samples, pair_count, offset_hz, taps, window.get(), baseband.get());
  window.reset();
  fm_discriminate(baseband.get(), audio_count, record->samples);
  baseband.reset();
  fm_remove_dc(record->samples, audio_count);

  if (voice_band_filter(record->samples, audio_count) != 0) return -1;
  record->count = audio_count;
  record->sample_rate = AUDIO_SAMPLE_RATE;
  *result = record.release();
  return 0;
}
