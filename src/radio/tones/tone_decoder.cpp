#include "radio/tones/tone_decoder.h"

#include <algorithm>
#include <vector>

#include "radio/meta/dcs_words.h"
#include "radio/tones/ctcss_detector.h"
#include "radio/tones/dcs_detector.h"
#include "radio/tones/subaudible_demod.h"

namespace kdsp {

namespace {

// Pairs demodulated before the detectors take their band: a block of any
// size costs the memory of this many.
constexpr std::size_t FEED_STEP_PAIRS = 48000;

// Where a reading is taken as a tone, and where it is certain. A DCS word
// under speech correlates 0.6 to 1 with its template; speech alone and CTCSS
// tones stay below 0.2.
constexpr double DCS_MIN_CORRELATION = 0.35;
constexpr double DCS_SURE_CORRELATION = 0.6;
// A transmitter's CTCSS tone deviates the carrier by 10 to 20 % of the peak
// deviation (250 Hz and more) and holds a good share of the band whatever
// the voice does; a voice's pitch or a hum reaches neither for long.
constexpr double CTCSS_MIN_DEVIATION_HZ = 150.0;
constexpr double CTCSS_MIN_BAND_FRACTION = 0.22;
constexpr double CTCSS_SURE_BAND_FRACTION = 0.6;
constexpr double CTCSS_MIN_RATIO_DB = 10.0;

// How far `value` stands above `threshold` towards `sure`: 0.5 at the
// threshold, 1 from `sure` on, 0 as far below the threshold as `sure` lies
// above it.
double above(double value, double threshold, double sure) {
  return std::clamp(0.5 + 0.5 * (value - threshold) / (sure - threshold), 0.0, 1.0);
}

bool is_ctcss(const CtcssReading& ctcss) {
  return ctcss.tone_hz > 0.0 && ctcss.deviation_hz >= CTCSS_MIN_DEVIATION_HZ &&
         ctcss.band_fraction >= CTCSS_MIN_BAND_FRACTION && ctcss.ratio_db >= CTCSS_MIN_RATIO_DB;
}

double dcs_confidence(const DcsReading& dcs) {
  return above(dcs.correlation, DCS_MIN_CORRELATION, DCS_SURE_CORRELATION);
}

// Led by the tone's share of the band; a tone too weak or too little above
// its surroundings is no more than even, whatever its share.
double ctcss_confidence(const CtcssReading& ctcss) {
  const double share = above(ctcss.band_fraction, CTCSS_MIN_BAND_FRACTION, CTCSS_SURE_BAND_FRACTION);
  return is_ctcss(ctcss) ? share : std::min(0.5, share);
}

}  // namespace

struct ToneDecoderState {
  SubaudibleDemod demod;
  CtcssDetector ctcss;
  DcsDetector dcs;
  std::vector<float> subaudible;
};

void ToneDecoderRelease::operator()(ToneDecoderState* state) const { delete state; }

int create_tone_decoder(double placed_offset_hz, ToneDecoder* decoder, Failure* failure) {
  ToneDecoder made(new ToneDecoderState);
  if (create_subaudible_demod(placed_offset_hz, &made->demod, failure) != 0 ||
      create_ctcss_detector(&made->ctcss, failure) != 0) {
    return -1;
  }
  create_dcs_detector(&made->dcs);
  *decoder = std::move(made);
  return 0;
}

void feed_tone_decoder(ToneDecoderState& decoder, std::span<const std::complex<float>> pairs) {
  for (std::size_t at = 0; at < pairs.size(); at += FEED_STEP_PAIRS) {
    decoder.subaudible.clear();
    demodulate_subaudible(*decoder.demod, pairs.subspan(at, std::min(FEED_STEP_PAIRS, pairs.size() - at)),
                          &decoder.subaudible);
    feed_ctcss_detector(*decoder.ctcss, decoder.subaudible);
    feed_dcs_detector(*decoder.dcs, decoder.subaudible);
  }
}

ToneReading finish_tone_decoder(ToneDecoderState& decoder) {
  const CtcssReading ctcss = finish_ctcss_detector(*decoder.ctcss);
  const DcsReading dcs = finish_dcs_detector(*decoder.dcs);
  ToneReading reading;
  reading.ctcss_deviation_hz = ctcss.deviation_hz;
  reading.ctcss_band_fraction = ctcss.band_fraction;
  reading.ctcss_ratio_db = ctcss.ratio_db;
  reading.dcs_correlation = dcs.correlation;
  if (dcs.correlation >= DCS_MIN_CORRELATION) {
    reading.tone = dcs.tone;
    reading.dcs_alias = dcs_alias(dcs.tone);
    reading.confidence = dcs_confidence(dcs);
  } else if (is_ctcss(ctcss)) {
    reading.tone = Tone{ToneKind::CTCSS, ctcss.tone_hz, 0, false};
    reading.confidence = ctcss_confidence(ctcss);
  } else {
    reading.confidence = 1.0 - std::max(dcs_confidence(dcs), ctcss_confidence(ctcss));
  }
  return reading;
}

}  // namespace kdsp
