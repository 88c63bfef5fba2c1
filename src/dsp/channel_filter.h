// Channel filter of the FM demodulation chain: a 163-tap Kaiser-windowed (beta
// 6.5) ideal low-pass with its cut-off at 13.5 kHz for 240 000 samples per
// second, normalised to unit gain at 0 Hz. Designed afresh on every
// fm_demodulate call into a fixed local table.
#pragma once

#include <cstdint>

namespace kdsp {

inline constexpr std::uint32_t CHANNEL_FILTER_TAPS = 163;
inline constexpr std::uint32_t CHANNEL_FILTER_CENTRE = 81;  // tap of x = 0

// Fills taps[0 .. CHANNEL_FILTER_TAPS-1] with the normalised taps (they sum
// to 1) and returns the sum of the raw, not yet normalised taps.
double design_channel_filter(double* taps);

}  // namespace kdsp
