// Voice-band filter and the FFT work-array size rule.
//
// Limits a 48 kHz real signal to 300..3300 Hz at unit gain, with raised-cosine
// transitions 200..300 Hz and 3300..3400 Hz, and removes everything else (DC
// included), by one zero-padded FFT: forward, a real gain per bin, inverse.
// The signal sits at FFT_PAD_OFFSET in a work array of fft_size_for(count)
// elements, so it has 24000 zeros before it and at least 24000 after it.
#pragma once

#include <cstdint>

#include "dsp/complex.h"

namespace kdsp {

// The rate of every audio signal the signal functions make.
inline constexpr std::uint32_t AUDIO_SAMPLE_RATE = 48000;
// Zeros around the signal in the work array: FFT_PAD_OFFSET before it, the
// rest of FFT_PAD_TOTAL (at least) after it, so that the filter's response
// does not wrap round from one end to the other.
inline constexpr std::uint64_t FFT_PAD_TOTAL = 48000;
inline constexpr std::uint64_t FFT_PAD_OFFSET = 24000;

// Work-array size for a signal of `count` samples: the first of 2, 4, ...,
// 2^63 that is not below count + FFT_PAD_TOTAL (equality accepted).
//   count : signal length in samples
//   size  : receives the size on success
// Returns 0, or -1 with *size untouched when no power of two up to 2^63 is
// large enough (including when count + FFT_PAD_TOTAL exceeds 64 bits).
int fft_size_for(std::uint64_t count, std::uint64_t* size);

// Filters x[0 .. count-1] (48 000 samples per second) in place.
//   x     : the float samples; only read and written when the result is 0
//   count : number of samples; 0 is allowed
// Returns 0, or -1 (no work-array size, or the work array could not be
// allocated) with the samples untouched and nothing left allocated.
int voice_band_filter(float* x, std::uint64_t count);

// voice_band_filter on a work array the caller holds, for a caller that has
// one of the right size already (never fails).
//   work : n = fft_size_for(count) complex values, contents irrelevant
void voice_band_filter_with(float* x, std::uint64_t count, Complex* work, std::uint64_t n);

}  // namespace kdsp
