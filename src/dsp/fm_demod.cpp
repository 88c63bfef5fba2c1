#include "dsp/fm_demod.h"

#include <cmath>

#include "base/limits.h"
#include "base/memory.h"
#include "dsp/channel_filter.h"
#include "dsp/voice_band.h"

void fm_mix_down(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz,
                 float* mixed) {
  const double two_pi = 6.283185307179586;
  const double step = (static_cast<double>(offset_hz) * -two_pi) / static_cast<double>(IQ_SAMPLE_RATE);
  double phase = 0.0;
  double cosine = 1.0;
  double sine = 0.0;
  for (std::uint64_t n = 0; n < pair_count; ++n) {
    const double i_value = static_cast<double>(iq_samples[2 * n]);
    const double q_value = static_cast<double>(iq_samples[2 * n + 1]);
    mixed[2 * n] = static_cast<float>(i_value * cosine - q_value * sine);
    mixed[2 * n + 1] = static_cast<float>(i_value * sine + q_value * cosine);
    // The phase is accumulated, not recomputed from n, and reduced now and
    // then so that it never grows large enough to lose precision.
    phase = phase + step;
    if (n % PHASE_WRAP_INTERVAL == PHASE_WRAP_INTERVAL - 1) phase = std::remainder(phase, two_pi);
    if (n + 1 < pair_count) ::sincos(phase, &sine, &cosine);
  }
}

void fm_channel_decimate(const float* mixed, std::uint64_t pair_count, const double* taps,
                         Complex* baseband) {
  const std::uint64_t half = CHANNEL_FILTER_CENTRE;
  const std::uint64_t output_count = pair_count / DECIMATION_FACTOR;
  for (std::uint64_t k = 0; k < output_count; ++k) {
    // Output k is centred on pair 5k; only pairs that exist contribute, in
    // increasing order (a skipped position is not an added zero: +0.0 would
    // turn a -0.0 sum into +0.0, which atan2 tells apart).
    const std::uint64_t centre = DECIMATION_FACTOR * k;
    const std::uint64_t first = centre >= half ? centre - half : 0;
    const std::uint64_t last = centre + half < pair_count ? centre + half : pair_count - 1;
    double re = 0.0;
    double im = 0.0;
    for (std::uint64_t m = first; m <= last; ++m) {
      const double t = taps[m + half - centre];
      re = re + static_cast<double>(mixed[2 * m]) * t;
      im = im + static_cast<double>(mixed[2 * m + 1]) * t;
    }
    baseband[k] = Complex{re, im};
  }
}

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

  // The mixed array is complete before anything else is requested.
  auto* mixed = static_cast<float*>(mem_alloc(pair_count * 2 * sizeof(float)));
  if (mixed == nullptr) return -1;
  fm_mix_down(iq_samples, pair_count, offset_hz, mixed);

  // Both requested before either is tested, as the chain's contract fixes
  // the order of allocation requests.
  const std::uint64_t audio_count = pair_count / DECIMATION_FACTOR;
  auto* baseband = static_cast<Complex*>(mem_alloc_zeroed(audio_count, sizeof(Complex)));
  auto* record = static_cast<AudioBuffer*>(mem_alloc_zeroed(1, sizeof(AudioBuffer)));
  if (baseband == nullptr || record == nullptr) {
    mem_release(mixed);
    mem_release(baseband);
    mem_release(record);
    return -1;
  }
  record->samples = static_cast<float*>(mem_alloc_zeroed(audio_count, sizeof(float)));
  if (record->samples == nullptr) {
    mem_release(mixed);
    mem_release(baseband);
    mem_release(record);
    return -1;
  }

  double taps[CHANNEL_FILTER_TAPS];
  design_channel_filter(taps);
  fm_channel_decimate(mixed, pair_count, taps, baseband);
  mem_release(mixed);
  fm_discriminate(baseband, audio_count, record->samples);
  mem_release(baseband);
  fm_remove_dc(record->samples, audio_count);

  if (voice_band_filter(record->samples, audio_count) != 0) {
    free_audio_buffer(record);
    return -1;
  }
  record->count = audio_count;
  record->sample_rate = AUDIO_SAMPLE_RATE;
  *result = record;
  return 0;
}
