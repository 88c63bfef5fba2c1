// Channel filter of the FM demodulation chain: a 163-tap Kaiser-windowed (beta
// 6.5) ideal low-pass with its cut-off at 13.5 kHz for 240 000 samples per
// second, normalised to unit gain at 0 Hz. Designed afresh on every
// fm_demodulate call into a fixed local table.
#pragma once

#include <cstdint>

namespace kdsp {

inline constexpr std::uint32_t CHANNEL_FILTER_TAPS = 163;
inline constexpr std::uint32_t CHANNEL_FILTER_CENTRE = 81;  // tap of x = 0

// Modified Bessel function of the first kind, order zero, by its power series
// sum over k of ((x^2/4)^k / (k!)^2), stopping as soon as a term falls below
// 1e-16 of the running sum, after at most 39 terms beyond the leading 1.
//   x          : argument (the window uses 0 .. 6.5)
//   last_term_k: if not null, receives the k of the last term added
double bessel_i0(double x, std::uint32_t* last_term_k = nullptr);

// Fills taps[0 .. CHANNEL_FILTER_TAPS-1] with the normalised taps (they sum
// to 1) and returns the sum of the raw, not yet normalised taps.
double design_channel_filter(double* taps);

}  // namespace kdsp
