#include "radio/spectrum/frame_power.h"

#include <cmath>

#include "base/numbers.h"

namespace kdsp {

int FramePower::make(std::size_t size) {
  if (fft_.make(size) != 0) return -1;
  window_.resize(size);
  window_energy_ = 0.0;
  for (std::size_t n = 0; n < size; ++n) {
    window_[n] = static_cast<float>(0.5 - 0.5 * std::cos(TWO_PI * static_cast<double>(n) / static_cast<double>(size)));
    window_energy_ += static_cast<double>(window_[n]) * window_[n];
  }
  return 0;
}

void FramePower::add(const std::complex<float>* frame, double* power) {
  std::complex<float>* input = fft_.input();
  for (std::size_t n = 0; n < window_.size(); ++n) input[n] = frame[n] * window_[n];
  fft_.execute();
  const std::complex<float>* bins = fft_.output();
  for (std::size_t k = 0; k < window_.size(); ++k) power[k] += std::norm(bins[k]);
}

}  // namespace kdsp
