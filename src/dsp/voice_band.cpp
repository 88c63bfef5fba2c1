#include "dsp/voice_band.h"

#include <cmath>
#include <cstring>

#include "base/limits.h"
#include "base/memory.h"
#include "dsp/audio_buffer.h"
#include "dsp/fft.h"

int fft_size_for(std::uint64_t count, std::uint64_t* size) {
  // count + FFT_PAD_TOTAL beyond 64 bits is certainly above 2^63: no size.
  if (count > UINT64_MAX - FFT_PAD_TOTAL) return -1;
  const std::uint64_t needed = count + FFT_PAD_TOTAL;
  const std::uint64_t largest = std::uint64_t{1} << 63;
  for (std::uint64_t candidate = 2;; candidate *= 2) {
    if (candidate >= needed) {
      *size = candidate;
      return 0;
    }
    if (candidate == largest) return -1;
  }
}

void place_padded(const float* x, std::uint64_t count, Complex* work, std::uint64_t n) {
  std::memset(work, 0, FFT_PAD_OFFSET * sizeof(Complex));
  for (std::uint64_t i = 0; i < count; ++i) work[FFT_PAD_OFFSET + i] = Complex{static_cast<double>(x[i]), 0.0};
  std::memset(work + FFT_PAD_OFFSET + count, 0, (n - FFT_PAD_OFFSET - count) * sizeof(Complex));
}

double voice_band_gain(double f_hz) {
  const double pi = 3.141592653589793;
  if (f_hz <= 200.0) return 0.0;
  if (f_hz < 300.0) return 0.5 - 0.5 * std::cos(((f_hz - 200.0) * pi) / 100.0);
  if (f_hz <= 3300.0) return 1.0;
  if (f_hz >= 3400.0) return 0.0;
  return 1.0 - (0.5 - 0.5 * std::cos(((f_hz - 3300.0) * pi) / 100.0));
}

int voice_band_filter(float* x, std::uint64_t count) {
  std::uint64_t n = 0;
  if (fft_size_for(count, &n) != 0) return -1;
  // Not zero-filled by the allocator: place_padded writes every element, and
  // the array is touched once instead of twice.
  if (n > SIZE_MAX / sizeof(Complex)) return -1;
  auto* work = static_cast<Complex*>(mem_alloc(n * sizeof(Complex)));
  if (work == nullptr) return -1;

  place_padded(x, count, work, n);
  fft_radix2(work, n, false);

  // One real gain per bin, chosen by the bin's frequency; bin i and its
  // mirror n - i share it, so the spectrum stays conjugate-symmetric.
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::uint64_t k = i <= n / 2 ? i : n - i;
    const double f_hz = (static_cast<double>(k) * static_cast<double>(AUDIO_SAMPLE_RATE)) / static_cast<double>(n);
    const double g = voice_band_gain(f_hz);
    work[i].re = work[i].re * g;
    work[i].im = work[i].im * g;
  }

  fft_radix2(work, n, true);
  for (std::uint64_t i = 0; i < count; ++i) {
    x[i] = static_cast<float>(work[FFT_PAD_OFFSET + i].re);
  }
  mem_release(work);
  return 0;
}
