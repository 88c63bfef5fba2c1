// Owners for liquid-dsp objects: each released once, by its own destroy
// function, when its owner goes away. A create that fails gives a null
// owner, which every caller checks. The one way liquid-dsp's header is
// included, so that its complex types are always std::complex.
#pragma once

// liquid.h takes std::complex for its complex types only when it is known.
#include <complex>

#include <liquid/liquid.h>

#include <memory>
#include <type_traits>

#include "radio/base/fft_plan.h"

namespace kdsp {

// liquid-dsp plans FFTW transforms inside its filter banks and FFT filters;
// FFTW's planner is made safe for threads before any of them is made.
inline firpfbchr_crcf create_bank(unsigned bins, unsigned decimation, unsigned semi_length, float stopband_db) {
  prepare_fft_planner();
  return firpfbchr_crcf_create_kaiser(bins, decimation, semi_length, stopband_db);
}

inline fftfilt_cccf create_fft_filter(std::complex<float>* taps, unsigned tap_count, unsigned block_pairs) {
  prepare_fft_planner();
  return fftfilt_cccf_create(taps, tap_count, block_pairs);
}

template <auto Destroy>
struct LiquidRelease {
  template <class Handle>
  void operator()(Handle handle) const {
    Destroy(handle);
  }
};

template <class Handle, auto Destroy>
using LiquidOwner = std::unique_ptr<std::remove_pointer_t<Handle>, LiquidRelease<Destroy>>;

using NcoOwner = LiquidOwner<nco_crcf, nco_crcf_destroy>;
using DecimatorOwner = LiquidOwner<firdecim_crcf, firdecim_crcf_destroy>;
using ResamplerOwner = LiquidOwner<msresamp_crcf, msresamp_crcf_destroy>;
using FilterOwner = LiquidOwner<firfilt_crcf, firfilt_crcf_destroy>;
using BankOwner = LiquidOwner<firpfbchr_crcf, firpfbchr_crcf_destroy>;
using FftFilterOwner = LiquidOwner<fftfilt_cccf, fftfilt_cccf_destroy>;
using IirOwner = LiquidOwner<iirfilt_rrrf, iirfilt_rrrf_destroy>;

}  // namespace kdsp
