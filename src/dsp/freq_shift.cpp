#include "dsp/freq_shift.h"

#include <algorithm>

#include "base/memory.h"
#include "base/numbers.h"
#include "dsp/detail.h"
#include "dsp/fft.h"
#include "dsp/oscillator.h"
#include "dsp/voice_band.h"

namespace kdsp {

void detail::shift_make_analytic(Complex* work, std::uint64_t n) {
  for (std::uint64_t i = 1; i < n / 2; ++i) {
    work[i].re = work[i].re + work[i].re;
    work[i].im = work[i].im + work[i].im;
  }
  for (std::uint64_t i = n / 2 + 1; i < n; ++i) work[i] = Complex{0.0, 0.0};
}

void detail::shift_mix_down(const Complex* analytic, std::uint64_t count, std::uint32_t shift_hz, float* out) {
  const double a = static_cast<double>(shift_hz) * TWO_PI;
  const double sample_rate = static_cast<double>(AUDIO_SAMPLE_RATE);
  const double phase_step = a / sample_rate;
  // Sample 0 sits at position FFT_PAD_OFFSET of the padded array; the
  // oscillator is phased as if it had run from the array's start.
  PhaseAccumulator oscillator = start_phase((static_cast<double>(FFT_PAD_OFFSET) * a) / sample_rate);
  double sines[OSCILLATOR_STRETCH];
  double cosines[OSCILLATOR_STRETCH];
  for (std::uint64_t first = 0; first < count; first += OSCILLATOR_STRETCH) {
    const std::uint64_t stretch = std::min(count - first, OSCILLATOR_STRETCH);
    oscillator_values(oscillator, phase_step, stretch, sines, cosines);
    for (std::uint64_t t = 0; t < stretch; ++t) {
      const Complex& z = analytic[first + t];
      out[first + t] = static_cast<float>(cosines[t] * z.re + sines[t] * z.im);
    }
  }
}

int frequency_shift(const AudioBuffer* in, std::uint32_t shift_hz, AudioBuffer** out) {
  if (in == nullptr) return -1;
  if (out == nullptr) return -1;
  if (in->sample_rate != AUDIO_SAMPLE_RATE) return -1;
  if (in->count == 0 || in->count > UINT64_MAX - FFT_PAD_TOTAL) return -1;  // count + 48000 fits
  if (shift_hz > FSHIFT_MAX_HZ) return -1;

  const std::uint64_t count = in->count;
  std::uint64_t n = 0;
  if (fft_size_for(count, &n) != 0) return -1;

  // Both requested before either is tested. Neither array is zero-filled by
  // the allocator: the forward transform and the mixer write every element.
  // The one work array serves the shift and then the voice band.
  if (n > SIZE_MAX / sizeof(Complex)) return -1;
  MemPtr<Complex> work(static_cast<Complex*>(mem_alloc(n * sizeof(Complex))));
  AudioBufferOwner record(static_cast<AudioBuffer*>(mem_alloc_zeroed(1, sizeof(AudioBuffer))));
  if (!work || !record) return -1;
  record->samples = static_cast<float*>(mem_alloc(count * sizeof(float)));
  if (record->samples == nullptr) return -1;

  fft_radix2_padded_real(in->samples, count, FFT_PAD_OFFSET, work.get(), n);
  detail::shift_make_analytic(work.get(), n);
  fft_radix2(work.get(), n, true);
  detail::shift_mix_down(work.get() + FFT_PAD_OFFSET, count, shift_hz, record->samples);
  voice_band_filter_with(record->samples, count, work.get(), n);
  record->count = count;
  record->sample_rate = AUDIO_SAMPLE_RATE;
  *out = record.release();
  return 0;
}

}  // namespace kdsp
