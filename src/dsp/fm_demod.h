// FM demodulation chain.
//
// From a capture of complex baseband at 240 000 pairs per second, picks the
// FM channel `offset_hz` away from the centre and returns 48 kHz voice-band
// audio in which a deviation of 5 kHz reads as 1.0. Stages, in order:
//   1. mixer: multiply by e^(-i 2 pi offset_hz t), the channel moves to 0 Hz;
//   2. channel filter (163 taps, 13.5 kHz) evaluated at every fifth pair only;
//   3. discriminator: phase step between consecutive baseband samples;
//   4. DC removal: the mean of the audio is subtracted;
//   5. voice_band_filter, in place.
// Stages 1 to 3 run together, block by block (channel_decimator.h), and the
// sum that stage 4 needs is taken as the discriminator writes each block.
// The tests reach the stages on their own through dsp/detail.h.
#pragma once

#include <cstdint>

#include "base/numbers.h"
#include "formats/audio_buffer.h"

namespace kdsp {

inline constexpr std::int32_t FMDEMOD_MAX_OFFSET_HZ = 100000;  // both signs

inline constexpr std::uint64_t FM_MIN_PAIR_COUNT = 5;  // one output sample
// Keeps every byte size derived from the pair count within 64 bits.
inline constexpr std::uint64_t FM_MAX_PAIR_COUNT = (std::uint64_t{1} << 61) - 1;
// A phase step of one 5 kHz deviation reads as 1.0.
inline constexpr double FM_DISCRIMINATOR_SCALE = 48000.0 / (TWO_PI * 5000.0);
static_assert(FM_DISCRIMINATOR_SCALE == 1.5278874536821951);  // the bits every audio sample is scaled by

// Demodulates the whole capture.
//   iq_samples : interleaved float I/Q values, pair_count pairs, read only
//   pair_count : N, 5 .. 2^61 - 1
//   offset_hz  : channel frequency relative to the capture centre, -100000 .. 100000
//   result     : receives a new AudioBuffer of floor(N / 5) samples at 48 kHz
// Returns 0, or -1 with *result untouched and nothing left allocated.
int fm_demodulate(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz, AudioBuffer** result);

}  // namespace kdsp
