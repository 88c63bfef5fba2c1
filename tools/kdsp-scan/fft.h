// In-place radix-2 complex FFT for the scan's spectra. Not bit-exact with the
// core tool and need not be: the scan only estimates levels.
#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

namespace kdsp {

// Twiddle factors and bit-reversal order for one power-of-two size.
struct FftPlan {
  std::size_t size = 0;
  std::vector<std::complex<double>> twiddles;  // e^(-2*pi*i*k/size), k < size/2
  std::vector<std::size_t> bit_reversed;
};

// `size` must be a power of two, at least 2.
FftPlan make_fft_plan(std::size_t size);

// Forward transform of `values` (exactly plan.size of them), no scaling.
void fft_forward(const FftPlan& plan, std::span<std::complex<double>> values);

}  // namespace kdsp
