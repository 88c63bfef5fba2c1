// Audio frequency shifter.
//
// Moves every component of a 48 kHz signal down by shift_hz (0 .. 10000) by
// single-sideband modulation: the analytic signal is formed with one
// zero-padded FFT, multiplied by an oscillator at -shift_hz, and its real
// part, passed through voice_band_filter, is the result. A component at f Hz
// comes out at f - shift_hz, one below shift_hz mirrored at shift_hz - f.
// The two middle stages are declared too, for tests and for comparison with
// a later optimised version.
#pragma once

#include <cstdint>

#include "dsp/complex.h"
#include "formats/audio_buffer.h"

namespace kdsp {

inline constexpr std::uint32_t FSHIFT_MAX_HZ = 10000;

// Shifts `in` down by `shift_hz` into a new buffer of the same length.
//   in       : source buffer, read only; sample_rate 48000, count >= 1
//   shift_hz : downward shift in Hz, 0 .. 10000
//   out      : receives the new AudioBuffer
// Returns 0, or -1 with *out and the input untouched and nothing left allocated.
int frequency_shift(const AudioBuffer* in, std::uint32_t shift_hz, AudioBuffer** out);

// Turns the forward spectrum work[0 .. n-1] of a real signal into the
// spectrum of its analytic signal: bins 1 .. n/2-1 doubled, n/2+1 .. n-1
// cleared, bin 0 and bin n/2 kept.
void shift_make_analytic(Complex* work, std::uint64_t n);

// out[i] = (float) Re(analytic[i] * e^(-i phase_i)) for i = 0 .. count-1,
// where phase_0 = pi * shift_hz (the phase of padded position 24000) and the
// phase grows by 2 pi shift_hz / 48000 per sample, reduced with
// remainder(., 2 pi) after every 4096 samples.
void shift_mix_down(const Complex* analytic, std::uint64_t count, std::uint32_t shift_hz,
                    float* out);

}  // namespace kdsp
