#include "dsp/fft.h"

#include <cmath>
#include <utility>

namespace {

// Reorders x into bit-reversed index order. j runs as the bit-reversed
// counterpart of i; each pair is exchanged once, when i < j.
void bit_reverse_permute(Complex* x, std::uint64_t n) {
  std::uint64_t j = 0;
  for (std::uint64_t i = 1; i < n; ++i) {
    std::uint64_t bit = n / 2;
    while ((j & bit) != 0) {
      j ^= bit;
      bit /= 2;
    }
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
}

// One stage of butterflies over blocks of `len` elements. The twiddle starts
// at (1, 0) in every block and advances by (c, s) after each butterfly, so all
// blocks see the same identically rounded twiddles.
void butterfly_stage(Complex* x, std::uint64_t n, std::uint64_t len, double c, double s) {
  const std::uint64_t half = len / 2;
  for (std::uint64_t k = 0; k < n; k += len) {
    Complex w{1.0, 0.0};
    for (std::uint64_t j = 0; j < half; ++j) {
      const Complex u = x[k + j];
      const Complex v = x[k + j + half];
      const Complex t{v.re * w.re - v.im * w.im, v.im * w.re + v.re * w.im};
      x[k + j] = Complex{u.re + t.re, u.im + t.im};
      x[k + j + half] = Complex{u.re - t.re, u.im - t.im};
      w = Complex{c * w.re - s * w.im, s * w.re + c * w.im};
    }
  }
}

}  // namespace

void fft_radix2(Complex* x, std::uint64_t n, bool inverse) {
  if (n < 2) return;
  bit_reverse_permute(x, n);

  const double pi = 3.141592653589793;
  const double base = inverse ? 2.0 * pi : -2.0 * pi;
  for (std::uint64_t len = 2; len <= n; len *= 2) {
    const double theta = base / static_cast<double>(len);
    double s = 0.0;
    double c = 0.0;
    ::sincos(theta, &s, &c);  // the stage's only trigonometric evaluation
    butterfly_stage(x, n, len, c, s);
    if (len == n) break;  // n may be 2^63: doubling past it would wrap to 0
  }

  if (inverse) {
    const double scale = static_cast<double>(n);
    for (std::uint64_t i = 0; i < n; ++i) {
      x[i].re = x[i].re / scale;
      x[i].im = x[i].im / scale;
    }
  }
}
