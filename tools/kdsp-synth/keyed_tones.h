// The sub-audible tones of keyed channels (--ctcss, --dcs): which tone keys
// which channel, and each transmission's tone at any time since it was
// keyed, made by the tone generator (radio/tones) at the speech's rate and
// read between samples as the speech is, with DCS's turn-off code over its
// last DCS_TURN_OFF_S. A channel with a tone gives the tone its share of the
// peak deviation and the voice the rest.
#pragma once

#include <cstdint>
#include <vector>

#include "radio/tones/tone_generator.h"

namespace kdsp {

inline constexpr double KEYED_TONE_LEVEL = TYPICAL_TONE_LEVEL;

// One tone a channel: `list` in channel order when it has a tone for each
// channel, else drawn at random from it for each channel with `seed`.
// `list` holds at most `channels` tones.
std::vector<Tone> channel_tones(const std::vector<Tone>& list, std::size_t channels, std::uint64_t seed);

// One transmission's tone, read forward in time.
struct SpanTone {
  ToneGenerator generator;  // none for a channel without a tone
  double rate = 0.0;
  std::uint64_t turn_off_sample = 0;  // where DCS's turn-off code starts
  std::uint64_t first = 0;            // the sample samples[0] is
  std::vector<float> samples;         // made, not yet left behind
};

// The tone of a transmission `duration_s` long. 0, or -1 with `*failure` set.
int start_span_tone(const Tone& tone, double rate, double duration_s, SpanTone* span, Failure* failure);

// The tone `t_s` seconds after the transmission was keyed; `t_s` never goes
// back by more than a sample from one call to the next.
double span_tone_at(SpanTone& span, double t_s);

}  // namespace kdsp
