// Which DCS code a transmission carries. The sub-audible band is folded on
// the word's length: each sample is added to the slot of the word it falls
// in (DCS_SAMPLES_PER_BIT slots a bit), over chunks of DCS_CHUNK_WORDS
// words, where the code, repeated without pause, adds up and the speech and
// noise do not. Each chunk's fold is then matched
// against every standard word in every rotation and at every bit phase, its
// best score per code added to the transmission's; chunks are short enough
// that a transmitter's bit clock a little off its rate stays within a bit.
// Only normal words are tried: an inverted code is another code's normal one.
#pragma once

#include <memory>
#include <span>

#include "radio/meta/tone_table.h"

namespace kdsp {

inline constexpr unsigned DCS_SAMPLES_PER_BIT = 8;
inline constexpr unsigned DCS_CHUNK_WORDS = 12;

struct DcsReading {
  Tone tone;                 // the best code, normal polarity; NONE before any chunk
  double correlation = 0.0;  // its correlation with the band, 0 to 1
};

struct DcsDetectorState;
struct DcsDetectorRelease {
  void operator()(DcsDetectorState* state) const;
};
using DcsDetector = std::unique_ptr<DcsDetectorState, DcsDetectorRelease>;

void create_dcs_detector(DcsDetector* detector);

// Takes the next samples of the sub-audible band (at SUBAUDIBLE_RATE).
void feed_dcs_detector(DcsDetectorState& detector, std::span<const float> subaudible);

// The code that matches best once the last samples are in.
DcsReading finish_dcs_detector(DcsDetectorState& detector);

}  // namespace kdsp
