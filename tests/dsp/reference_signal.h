// The straightforward form of the signal path, kept beside the tests as the
// yardstick for the optimised library: every optimised function must give
// the same bits as its counterpart here. Plain loops, one operation at a time,
// in the order the arithmetic is defined; std::vector for working memory.
#pragma once

#include <cstdint>
#include <vector>

#include "dsp/complex.h"

namespace kdsp {

namespace reference {

void reference_fft_radix2(Complex* x, std::uint64_t n, bool inverse);

// x filtered in place; false when no work-array size exists.
bool reference_voice_band_filter(std::vector<float>& x);

void reference_fm_mix_down(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz, float* mixed);
void reference_fm_channel_decimate(const float* mixed, std::uint64_t pair_count, const double* taps, Complex* baseband);
void reference_fm_discriminate(const Complex* baseband, std::uint64_t count, float* audio);

// The whole demodulation chain: floor(pair_count / 5) samples.
std::vector<float> reference_fm_demodulate(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz);

void reference_shift_mix_down(const Complex* analytic, std::uint64_t count, std::uint32_t shift_hz, float* out);

// The whole shifter: in.size() samples.
std::vector<float> reference_frequency_shift(const std::vector<float>& in, std::uint32_t shift_hz);

}  // namespace reference

}  // namespace kdsp
