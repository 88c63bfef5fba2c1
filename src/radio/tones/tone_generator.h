// The sub-audible tone a transmitter adds to its modulating audio: a CTCSS
// sine, or the DCS word repeated as NRZ at DCS_BIT_RATE (a 1 raises the
// carrier) through the low-pass radios put after their encoders, which keeps
// the edges' harmonics out of the voice band: a Bessel (liquid-dsp
// iirfilt_rrrf), which rounds the edges without ringing, so that the level
// stays the peak. Its level is a fraction of the peak deviation, as the
// modulating audio's full scale is; a generator carries its phase, bit clock
// and filter across blocks, so any block sizes give the same signal.
#pragma once

#include <memory>
#include <span>

#include "radio/base/failure.h"
#include "radio/meta/tone_table.h"

namespace kdsp {

// What radios commonly use: 15 % of the peak deviation for the tone, the
// voice keeping the rest.
inline constexpr double TYPICAL_TONE_LEVEL = 0.15;
inline constexpr double DCS_SHAPING_CUTOFF_HZ = 250.0;
inline constexpr unsigned DCS_SHAPING_ORDER = 4;
// DCS's turn-off code: a 134.4 Hz square wave for about 180 ms before the
// carrier drops, which tells receivers to close their squelch at once.
inline constexpr double DCS_TURN_OFF_HZ = 134.4;
inline constexpr double DCS_TURN_OFF_S = 0.18;
// Audio rates: the shaping filter's single-precision sections lose their
// accuracy when its cut-off falls to a tiny fraction of the rate.
inline constexpr double MIN_TONE_AUDIO_RATE = 2000.0;
inline constexpr double MAX_TONE_AUDIO_RATE = 192000.0;

struct ToneGeneratorState;
struct ToneGeneratorRelease {
  void operator()(ToneGeneratorState* state) const;
};
using ToneGenerator = std::unique_ptr<ToneGeneratorState, ToneGeneratorRelease>;

// A generator of `tone` (NONE adds nothing) at `audio_rate` samples per
// second (MIN_TONE_AUDIO_RATE to MAX_TONE_AUDIO_RATE) and `level` (0 to 1).
// 0 with `*generator` set, or -1 with `*failure` set.
int create_tone_generator(const Tone& tone, double audio_rate, double level, ToneGenerator* generator,
                          Failure* failure);

// Adds the tone's next samples to `audio`.
void add_tone(ToneGeneratorState& generator, std::span<float> audio);

// A DCS generator sends the turn-off code from its next sample on (for as
// long as it is asked for more); other tones are left as they are.
void start_dcs_turn_off(ToneGeneratorState& generator);

}  // namespace kdsp
