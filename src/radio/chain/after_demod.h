// What radio users expect after demodulation, each off unless asked for so
// that the default output stays the core's exact audio: a one-pole
// de-emphasis, a fixed gain to a target peak, or one to a target loudness
// (EBU R128, through libebur128), and --voice, which is what people who
// listen to two-way radio expect in one option: de-emphasis at 750 us,
// loudness at -16 LUFS and the squelch tail (the noise burst when a carrier
// drops) trimmed. Each works on the joined 16-bit samples in recording
// order, so the result does not depend on how the recording was cut into
// pieces.
#pragma once

#include <cstdint>
#include <span>

#include "radio/base/failure.h"

namespace kdsp {

// The peak --normalize brings the audio to: -1 dB of full scale.
inline constexpr double NORMALIZE_TARGET_PEAK = 0.8912509381337456;
inline constexpr double MAX_DEEMPHASIS_US = 10000.0;

// Two-way radio's de-emphasis and the loudness --voice aims at.
inline constexpr double VOICE_DEEMPHASIS_US = 750.0;
inline constexpr double VOICE_LOUDNESS_LUFS = -16.0;
inline constexpr double MIN_LOUDNESS_LUFS = -70.0;
inline constexpr double MAX_LOUDNESS_LUFS = -5.0;
// The loudness gain never takes a sample past this (-1 dB of full scale).
inline constexpr double LOUDNESS_PEAK_LIMIT = NORMALIZE_TARGET_PEAK;

struct AfterDemod {
  double deemphasis_us = 0.0;  // 0: none
  bool normalize = false;
  double loudness_lufs = 0.0;  // 0: none; else the integrated loudness to reach
  bool trim_tail = false;      // cut the squelch tail (the caller knows where the carrier ended)
};

inline bool wants_after_demod(const AfterDemod& after) {
  return after.deemphasis_us > 0.0 || after.normalize || after.loudness_lufs != 0.0;
}

// --voice: the three steps, with a de-emphasis and a loudness given on
// their own kept.
AfterDemod voice_after_demod(AfterDemod given);

// Where a transmission's audio ends once its squelch tail is cut: the
// sample at which the carrier was last heard, less the window in which it
// dropped.
std::uint64_t tail_trimmed_samples(std::uint64_t carrier_end_sample, std::uint64_t total_samples,
                                   double sample_rate);

// Applies the steps to 16-bit little-endian samples in place (`pcm` holds
// 2 bytes per sample) at `sample_rate`. 0, or -1 with `*failure` set when
// a filter could not be made.
int apply_after_demod(const AfterDemod& after, double sample_rate, std::span<std::uint8_t> pcm, Failure* failure);

}  // namespace kdsp
