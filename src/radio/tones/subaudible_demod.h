// The sub-audible band of one FM channel, read from a placed capture (pairs
// at IQ_SAMPLE_RATE with the channel at a known offset): the channel taken
// out at 0 Hz (channel_extract.h), its instantaneous frequency read
// (liquid-dsp freqdem) in Hz of deviation where a carrier holds the channel
// (0 where none does), and that narrowed to the tones' band and decimated
// (two firdecim_rrrf) to SUBAUDIBLE_RATE. The voice chain removes everything
// below 300 Hz, so the tones that key a channel are read here instead.
#pragma once

#include <complex>
#include <memory>
#include <span>
#include <vector>

#include "radio/base/failure.h"

namespace kdsp {

inline constexpr double SUBAUDIBLE_RATE = 1200.0;  // samples per second
// Flat to the highest CTCSS tone; 60 dB down from SUBAUDIBLE_STOP_HZ, so
// the voice above it folds onto nothing below SUBAUDIBLE_PASS_HZ.
inline constexpr double SUBAUDIBLE_PASS_HZ = 260.0;
inline constexpr double SUBAUDIBLE_STOP_HZ = 420.0;

struct SubaudibleDemodState;
struct SubaudibleDemodRelease {
  void operator()(SubaudibleDemodState* state) const;
};
using SubaudibleDemod = std::unique_ptr<SubaudibleDemodState, SubaudibleDemodRelease>;

// A demodulator for the channel at `placed_offset_hz` (within the core's
// reach). 0 with `*demod` set, or -1 with `*failure` set.
int create_subaudible_demod(double placed_offset_hz, SubaudibleDemod* demod, Failure* failure);

// Demodulates the next pairs of the capture, in any block sizes, and appends
// the sub-audible samples they complete to `*out` (in Hz of deviation).
void demodulate_subaudible(SubaudibleDemodState& demod, std::span<const std::complex<float>> pairs,
                           std::vector<float>* out);

}  // namespace kdsp
