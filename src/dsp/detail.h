// The inner stages of the signal functions, and the lane seam, that only the
// tests call: they look at each stage's result on its own and hold it to the
// straightforward form of its arithmetic. The rest of the tool needs only the
// public headers of dsp/.
#pragma once

#include <cstdint>

#include "dsp/complex.h"

namespace kdsp::detail {

// ---- Vector lanes (vector_lanes.cpp) -------------------------------------

// false makes every signal function take the SSE2 lanes; true goes back to
// the processor's choice (see use_avx2_lanes).
void allow_avx2_lanes(bool allowed);

// ---- Channel filter (channel_filter.cpp) -----------------------------------

// Modified Bessel function of the first kind, order zero, by its power series
// sum over k of ((x^2/4)^k / (k!)^2), stopping as soon as a term falls below
// 1e-16 of the running sum, after at most 39 terms beyond the leading 1.
//   x          : argument (the window uses 0 .. 6.5)
//   last_term_k: if not null, receives the k of the last term added
double bessel_i0(double x, std::uint32_t* last_term_k = nullptr);

// ---- Voice band (voice_band.cpp) -------------------------------------------

// Gain of the voice band at frequency `f_hz` (f_hz >= 0): 0 up to 200 Hz, a
// raised-cosine rise to 1 at 300 Hz, 1 up to 3300 Hz, a raised-cosine fall to
// 0 just below 3400 Hz, 0 from 3400 Hz on.
double voice_band_gain(double f_hz);

// Multiplies every bin i of the n-point spectrum work[0 .. n-1] by the gain
// at the frequency of bin k = min(i, n - i): (k * 48000) / n Hz, so that a
// bin and its mirror share the gain and the spectrum stays
// conjugate-symmetric.
void voice_band_apply_gains(Complex* work, std::uint64_t n);

// ---- FM chain (channel_decimator.cpp, fm_demod.cpp) ------------------------

// Stages 1 and 2 over the whole capture at once: the pair_count/5 outputs
// of decimate_next_block, in order, into baseband.
//   window : DECIMATOR_WINDOW_DOUBLES of scratch, contents irrelevant
void mix_and_decimate(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz, const double* taps,
                      double* window, Complex* baseband);

// Stage 3 over a whole baseband. audio[0] = 0; audio[m] = phase of
// baseband[m] * conj(baseband[m-1]) times FM_DISCRIMINATOR_SCALE, narrowed to
// float, for m = 1 .. count-1.
void fm_discriminate(const Complex* baseband, std::uint64_t count, float* audio);

// ---- Shifter (freq_shift.cpp) ----------------------------------------------

// Turns the forward spectrum work[0 .. n-1] of a real signal into the
// spectrum of its analytic signal: bins 1 .. n/2-1 doubled, n/2+1 .. n-1
// cleared, bin 0 and bin n/2 kept.
void shift_make_analytic(Complex* work, std::uint64_t n);

// out[i] = (float) Re(analytic[i] * e^(-i phase_i)) for i = 0 .. count-1,
// where phase_i is the PhaseAccumulator's phase of sample i, starting from
// pi * shift_hz (the phase of padded position 24000) in steps of
// 2 pi shift_hz / 48000.
void shift_mix_down(const Complex* analytic, std::uint64_t count, std::uint32_t shift_hz, float* out);

}  // namespace kdsp::detail
