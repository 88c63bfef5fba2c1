// Radix-2 FFT: reference values, the meaning of the bins and round trips.
#include "dsp/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "base/numbers.h"

namespace kdsp {

namespace {

std::vector<Complex> random_signal(std::uint64_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::vector<Complex> x(n);
  for (auto& c : x) c = Complex{value(rng), value(rng)};
  return x;
}

void expect_complex_eq(const Complex& actual, double re, double im) {
  EXPECT_EQ(actual.re, re);
  EXPECT_EQ(actual.im, im);
}

TEST(FftSmallSizes, ZeroAndOneElementAreLeftUntouchedInBothDirections) {
  Complex one[1] = {{3.0, -5.0}};
  fft_radix2(one, 1, false);
  expect_complex_eq(one[0], 3.0, -5.0);
  fft_radix2(one, 1, true);  // no division by n for n = 1
  expect_complex_eq(one[0], 3.0, -5.0);

  Complex guard[1] = {{7.0, 8.0}};
  fft_radix2(guard, 0, false);
  fft_radix2(guard, 0, true);
  expect_complex_eq(guard[0], 7.0, 8.0);
}

TEST(FftSmallSizes, TwoPointsGiveSumAndDifference) {
  Complex x[2] = {{1.0, 2.0}, {3.0, -4.0}};
  fft_radix2(x, 2, false);
  expect_complex_eq(x[0], 4.0, -2.0);
  expect_complex_eq(x[1], -2.0, 6.0);

  Complex y[2] = {{1.0, 2.0}, {3.0, -4.0}};
  fft_radix2(y, 2, true);  // inverse: the same butterfly, then halved
  expect_complex_eq(y[0], 2.0, -1.0);
  expect_complex_eq(y[1], -1.0, 3.0);
}

TEST(FftSmallSizes, FourPointsCarryTheLibraryCosineOfMinusHalfPi) {
  // The tiny real parts come from cos(-pi/2) as the C library computes it:
  // twiddles from sincos, not from exact constants.
  Complex x[4] = {{0.0, 0.0}, {1.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}};
  fft_radix2(x, 4, false);
  expect_complex_eq(x[0], 1.0, 0.0);
  expect_complex_eq(x[1], 6.123233995736766e-17, -1.0);
  expect_complex_eq(x[2], -1.0, 0.0);
  expect_complex_eq(x[3], -6.123233995736766e-17, 1.0);
}

TEST(FftSpectrum, UnitImpulseHasAFlatSpectrum) {
  const std::uint64_t n = 1024;
  std::vector<Complex> x(n, Complex{0.0, 0.0});
  x[0] = Complex{1.0, 0.0};
  fft_radix2(x.data(), n, false);
  for (std::uint64_t k = 0; k < n; ++k) expect_complex_eq(x[k], 1.0, 0.0);
}

TEST(FftSpectrum, ConstantFallsEntirelyIntoBinZero) {
  for (std::uint64_t n : {16u, 256u, 65536u}) {
    std::vector<Complex> x(n, Complex{0.75, 0.0});
    fft_radix2(x.data(), n, false);
    expect_complex_eq(x[0], 0.75 * static_cast<double>(n), 0.0);
    for (std::uint64_t k = 1; k < n; ++k) {
      ASSERT_EQ(x[k].re, 0.0) << "n " << n << " bin " << k;
      ASSERT_EQ(x[k].im, 0.0) << "n " << n << " bin " << k;
    }
  }
}

TEST(FftSpectrum, ComplexToneLandsInTheBinOfItsFrequency) {
  // e^(+2 pi i 5 m / 64) is a tone at +5 bins; e^(-2 pi i 5 m / 64) at bin n - 5.
  const std::uint64_t n = 64;
  for (int sign : {+1, -1}) {
    std::vector<Complex> x(n);
    for (std::uint64_t m = 0; m < n; ++m) {
      const double angle = sign * TWO_PI * 5.0 * static_cast<double>(m) / 64.0;
      x[m] = Complex{std::cos(angle), std::sin(angle)};
    }
    fft_radix2(x.data(), n, false);
    const std::uint64_t expected_bin = sign > 0 ? 5 : n - 5;
    for (std::uint64_t k = 0; k < n; ++k) {
      const double magnitude = std::hypot(x[k].re, x[k].im);
      EXPECT_NEAR(magnitude, k == expected_bin ? 64.0 : 0.0, 1e-12) << "bin " << k;
    }
  }
}

TEST(FftRoundTrip, InverseUndoesForwardWithErrorGrowingWithSize) {
  // The twiddle recurrence drifts a little per step, so the round-trip error
  // grows roughly in proportion to n (not with log2 n). Measured: at most
  // 3.8e-17 * n relative (5.0e-11 at 2^21); the bound leaves a margin of 4.
  for (int log2n = 1; log2n <= 21; ++log2n) {
    const std::uint64_t n = std::uint64_t{1} << log2n;
    const std::vector<Complex> input = random_signal(n, 1000u + static_cast<unsigned>(log2n));
    std::vector<Complex> x = input;
    fft_radix2(x.data(), n, false);
    fft_radix2(x.data(), n, true);
    double worst = 0.0;
    double largest = 0.0;
    for (std::uint64_t i = 0; i < n; ++i) {
      worst = std::fmax(worst, std::hypot(x[i].re - input[i].re, x[i].im - input[i].im));
      largest = std::fmax(largest, std::hypot(input[i].re, input[i].im));
    }
    EXPECT_LE(worst / largest, 1.5e-16 * static_cast<double>(n)) << "n = 2^" << log2n;
  }
}

TEST(FftRoundTrip, InverseAloneScalesByOneOverN) {
  // The inverse of an all-ones spectrum is an impulse of height 1 (not n).
  const std::uint64_t n = 512;
  std::vector<Complex> x(n, Complex{1.0, 0.0});
  fft_radix2(x.data(), n, true);
  expect_complex_eq(x[0], 1.0, 0.0);
  for (std::uint64_t i = 1; i < n; ++i) {
    ASSERT_LT(std::hypot(x[i].re, x[i].im), 1e-15) << i;
  }
}

}  // namespace

}  // namespace kdsp
