// Radix-2 complex FFT.
//
// The one discrete Fourier transform of the tool: in place, iterative,
// decimation in time, over `Complex` doubles. The forward transform is
// unnormalised; the inverse carries the whole 1/n scaling, so forward then
// inverse gives back the input up to rounding.
#pragma once

#include <cstdint>

#include "dsp/complex.h"

namespace kdsp {

// Transforms x[0 .. n-1] in place.
//   x       : n complex values, read and overwritten
//   n       : element count; a power of two, or 0 or 1 (then nothing changes).
//             Not checked: the core passes sizes from fft_size_for, kdsp-scan
//             a power-of-two constant.
//   inverse : false = forward (exponent -), true = inverse (exponent +, then / n)
//
// Bit-exact by construction: one sincos call per stage, twiddles walked by
// complex multiplication from (1, 0) (every block of a stage sees the same
// walked values), every product rounded on its own (the build forbids fused
// multiply-add).
void fft_radix2(Complex* x, std::uint64_t n, bool inverse);

// The forward transform of a zero-padded real signal, written to work[0 .. n-1]:
// the same bits as placing x[i] as the real part of work[offset + i] (zero
// everywhere else) and calling fft_radix2(work, n, false), without the
// separate pass that places the signal.
//   x      : count float samples, read only; offset + count <= n
//   work   : n complex values, contents irrelevant
void fft_radix2_padded_real(const float* x, std::uint64_t count, std::uint64_t offset, Complex* work, std::uint64_t n);

}  // namespace kdsp
