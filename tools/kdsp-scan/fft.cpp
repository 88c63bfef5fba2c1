#include "fft.h"

#include <numbers>
#include <utility>

namespace kdsp {

FftPlan make_fft_plan(std::size_t size) {
  FftPlan plan;
  plan.size = size;
  plan.twiddles.resize(size / 2);
  for (std::size_t k = 0; k < size / 2; ++k) {
    double angle = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(size);
    plan.twiddles[k] = std::polar(1.0, angle);
  }
  plan.bit_reversed.resize(size);
  std::size_t bits = 0;
  while ((std::size_t{1} << bits) < size) ++bits;
  for (std::size_t i = 0; i < size; ++i) {
    std::size_t reversed = 0;
    for (std::size_t b = 0; b < bits; ++b) reversed |= ((i >> b) & 1u) << (bits - 1 - b);
    plan.bit_reversed[i] = reversed;
  }
  return plan;
}

void fft_forward(const FftPlan& plan, std::span<std::complex<double>> values) {
  const std::size_t size = plan.size;
  for (std::size_t i = 0; i < size; ++i) {
    std::size_t j = plan.bit_reversed[i];
    if (i < j) std::swap(values[i], values[j]);
  }
  for (std::size_t half = 1; half < size; half *= 2) {
    std::size_t twiddle_stride = size / (2 * half);
    for (std::size_t start = 0; start < size; start += 2 * half) {
      for (std::size_t k = 0; k < half; ++k) {
        std::complex<double> odd = values[start + k + half] * plan.twiddles[k * twiddle_stride];
        values[start + k + half] = values[start + k] - odd;
        values[start + k] += odd;
      }
    }
  }
}

}  // namespace kdsp
