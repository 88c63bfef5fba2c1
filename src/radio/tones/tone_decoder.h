// The tone that keyed one transmission, read from its placed capture (pairs
// at IQ_SAMPLE_RATE, the channel at its placed offset) as it streams past,
// in blocks of any size and for as long as it lasts, in bounded memory: the
// sub-audible band (subaudible_demod.h) goes to a CTCSS and a DCS detector
// side by side, and at the end a DCS code that stands out wins (its line
// spectrum would otherwise pass for a CTCSS tone), else a CTCSS tone that
// stands out, else none.
#pragma once

#include <complex>
#include <memory>
#include <span>

#include "radio/base/failure.h"
#include "radio/meta/tone_table.h"

namespace kdsp {

struct ToneReading {
  Tone tone;                // NONE, a CTCSS tone, or a DCS code named in normal polarity
  Tone dcs_alias;           // for DCS, the same signal's inverted name (023N: 047I)
  double confidence = 0.0;  // 0 to 1, that `tone` (NONE included) is right
  // The evidence: the loudest CTCSS tone's ratio over the bins around it,
  // its deviation and its share of the band (ctcss_detector.h), and the
  // best DCS code's correlation with the band (dcs_detector.h).
  double ctcss_ratio_db = 0.0;
  double ctcss_deviation_hz = 0.0;
  double ctcss_band_fraction = 0.0;
  double dcs_correlation = 0.0;
};

struct ToneDecoderState;
struct ToneDecoderRelease {
  void operator()(ToneDecoderState* state) const;
};
using ToneDecoder = std::unique_ptr<ToneDecoderState, ToneDecoderRelease>;

// A decoder for a transmission whose channel lies at `placed_offset_hz`.
// 0 with `*decoder` set, or -1 with `*failure` set.
int create_tone_decoder(double placed_offset_hz, ToneDecoder* decoder, Failure* failure);

// Takes the next pairs of the transmission.
void feed_tone_decoder(ToneDecoderState& decoder, std::span<const std::complex<float>> pairs);

// The tone, once the whole transmission has been fed.
ToneReading finish_tone_decoder(ToneDecoderState& decoder);

}  // namespace kdsp
