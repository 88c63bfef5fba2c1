// What radio users expect after demodulation, each off unless asked for so
// that the default output stays the core's exact audio: a one-pole
// de-emphasis and a fixed gain to a target peak. Both work on the joined
// 16-bit samples in recording order, so the result does not depend on how
// the recording was cut into pieces.
#pragma once

#include <cstdint>
#include <span>

#include "radio/base/failure.h"

namespace kdsp {

// The peak --normalize brings the audio to: -1 dB of full scale.
inline constexpr double NORMALIZE_TARGET_PEAK = 0.8912509381337456;
inline constexpr double MAX_DEEMPHASIS_US = 10000.0;

struct AfterDemod {
  double deemphasis_us = 0.0;  // 0: none
  bool normalize = false;
};

inline bool wants_after_demod(const AfterDemod& after) { return after.deemphasis_us > 0.0 || after.normalize; }

// Applies the steps to 16-bit little-endian samples in place (`pcm` holds
// 2 bytes per sample) at `sample_rate`. 0, or -1 with `*failure` set when
// a filter could not be made.
int apply_after_demod(const AfterDemod& after, double sample_rate, std::span<std::uint8_t> pcm, Failure* failure);

}  // namespace kdsp
