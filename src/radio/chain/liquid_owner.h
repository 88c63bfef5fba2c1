// Owners for liquid-dsp objects: each released once, by its own destroy
// function, when its owner goes away.
#pragma once

#include <liquid/liquid.h>

#include <memory>
#include <mutex>
#include <type_traits>

namespace kdsp {

// liquid-dsp makes the transforms of its filter banks and FFT filters with
// FFTW, as the squelch meter makes its own, and FFTW's planner must never run
// on two threads at once: every plan (or object holding one) is made and
// destroyed under this lock.
inline std::mutex& fftw_planner_lock() {
  static std::mutex lock;
  return lock;
}

inline firpfbchr_crcf create_bank(unsigned bins, unsigned decimation, unsigned semi_length, float stopband_db) {
  const std::lock_guard hold(fftw_planner_lock());
  return firpfbchr_crcf_create_kaiser(bins, decimation, semi_length, stopband_db);
}

inline int destroy_bank(firpfbchr_crcf bank) {
  const std::lock_guard hold(fftw_planner_lock());
  return firpfbchr_crcf_destroy(bank);
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
using BankOwner = LiquidOwner<firpfbchr_crcf, destroy_bank>;
using IirOwner = LiquidOwner<iirfilt_rrrf, iirfilt_rrrf_destroy>;

}  // namespace kdsp
