// Owners for liquid-dsp objects: each released once, by its own destroy
// function, when its owner goes away.
#pragma once

#include <liquid/liquid.h>

#include <memory>
#include <type_traits>

namespace kdsp {

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
using IirOwner = LiquidOwner<iirfilt_rrrf, iirfilt_rrrf_destroy>;

}  // namespace kdsp
