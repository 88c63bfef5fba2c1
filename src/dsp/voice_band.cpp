#include "dsp/voice_band.h"

#include <cmath>

#include "base/memory.h"
#include "base/numbers.h"
#include "dsp/detail.h"
#include "dsp/fft.h"
#include "formats/audio_buffer.h"

namespace kdsp {

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

double detail::voice_band_gain(double f_hz) {
  if (f_hz <= 200.0) return 0.0;
  if (f_hz < 300.0) return 0.5 - 0.5 * std::cos(((f_hz - 200.0) * PI) / 100.0);
  if (f_hz <= 3300.0) return 1.0;
  if (f_hz >= 3400.0) return 0.0;
  return 1.0 - (0.5 - 0.5 * std::cos(((f_hz - 3300.0) * PI) / 100.0));
}

namespace {

// Frequency of bin k (0 .. n/2) of an n-point spectrum at 48 kHz, as the
// gain is defined on it: the rounding of each step is part of the result.
double bin_frequency_hz(std::uint64_t k, std::uint64_t n) {
  return (static_cast<double>(k) * static_cast<double>(AUDIO_SAMPLE_RATE)) / static_cast<double>(n);
}

// First k in 0 .. n/2 + 1 for which `reached` holds, given that it holds for
// every k after the first one: the bin frequency never decreases with k.
template <typename Test>
std::uint64_t first_bin_where(std::uint64_t n, Test reached) {
  std::uint64_t lo = 0;
  std::uint64_t hi = n / 2 + 1;
  while (lo < hi) {
    const std::uint64_t mid = lo + (hi - lo) / 2;
    if (reached(bin_frequency_hz(mid, n))) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return lo;
}

// Multiplies bin k and its mirror n - k (the same bin for k = 0 and n/2).
void scale_bin(Complex* work, std::uint64_t n, std::uint64_t k, double g) {
  work[k].re = work[k].re * g;
  work[k].im = work[k].im * g;
  if (k == 0 || k == n / 2) return;
  work[n - k].re = work[n - k].re * g;
  work[n - k].im = work[n - k].im * g;
}

// The same constant gain for bins k_begin .. k_end-1 and their mirrors.
void scale_bins(Complex* work, std::uint64_t n, std::uint64_t k_begin, std::uint64_t k_end, double g) {
  for (std::uint64_t k = k_begin; k < k_end; ++k) scale_bin(work, n, k, g);
}

}  // namespace

void detail::voice_band_apply_gains(Complex* work, std::uint64_t n) {
  if (n == 0) return;
  // The gain is 0 up to 200 Hz, rises below 300 Hz, is 1 up to 3300 Hz,
  // falls below 3400 Hz and is 0 beyond: five runs of bins, found with the
  // very comparisons voice_band_gain makes. Only the bins of the two
  // transitions need their own gain (and its cosine); every multiplication
  // is still made, since 0 times a negative, infinite or NaN value is not +0.
  const std::uint64_t rise = first_bin_where(n, [](double f_hz) { return f_hz > 200.0; });
  const std::uint64_t flat = first_bin_where(n, [](double f_hz) { return f_hz >= 300.0; });
  const std::uint64_t fall = first_bin_where(n, [](double f_hz) { return f_hz > 3300.0; });
  const std::uint64_t stop = first_bin_where(n, [](double f_hz) { return f_hz >= 3400.0; });
  scale_bins(work, n, 0, rise, 0.0);
  for (std::uint64_t k = rise; k < flat; ++k) scale_bin(work, n, k, voice_band_gain(bin_frequency_hz(k, n)));
  scale_bins(work, n, flat, fall, 1.0);
  for (std::uint64_t k = fall; k < stop; ++k) scale_bin(work, n, k, voice_band_gain(bin_frequency_hz(k, n)));
  scale_bins(work, n, stop, n / 2 + 1, 0.0);
}

void voice_band_filter_with(float* x, std::uint64_t count, Complex* work, std::uint64_t n) {
  fft_radix2_padded_real(x, count, FFT_PAD_OFFSET, work, n);
  detail::voice_band_apply_gains(work, n);
  fft_radix2(work, n, true);
  for (std::uint64_t i = 0; i < count; ++i) {
    x[i] = static_cast<float>(work[FFT_PAD_OFFSET + i].re);
  }
}

int voice_band_filter(float* x, std::uint64_t count) {
  std::uint64_t n = 0;
  if (fft_size_for(count, &n) != 0) return -1;
  // Not zero-filled by the allocator: the forward transform writes every
  // element before it reads one.
  if (n > SIZE_MAX / sizeof(Complex)) return -1;
  MemPtr<Complex> work(static_cast<Complex*>(mem_alloc(n * sizeof(Complex))));
  if (!work) return -1;
  voice_band_filter_with(x, count, work.get(), n);
  return 0;
}

}  // namespace kdsp
