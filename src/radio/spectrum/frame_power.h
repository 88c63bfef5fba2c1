// The power spectrum of one frame of pairs: Hann window, forward transform,
// squared magnitudes. The one path by which the scanner's averaged spectra
// and the squelch meters' windows are measured.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

#include "radio/base/fft_plan.h"

namespace kdsp {

class FramePower {
 public:
  // Prepares frames of `size` pairs. 0, or -1 when the transform could not
  // be made.
  int make(std::size_t size);
  std::size_t size() const { return window_.size(); }
  // The sum of the squared window: what one unit of noise power per pair
  // puts in a bin, times the frame's size.
  double window_energy() const { return window_energy_; }
  // Adds each bin's power of the windowed `frame` (size() pairs) to
  // `power[k]`, bins in transform order (0 Hz first, the negative
  // frequencies in the upper half).
  void add(const std::complex<float>* frame, double* power);

 private:
  ForwardFft fft_;
  std::vector<float> window_;
  double window_energy_ = 0.0;
};

}  // namespace kdsp
