// Which CTCSS tone a transmission carries: the sub-audible band is cut into
// overlapping Hann-windowed segments whose power spectra (FFTW, zero-padded
// to a fine grid) add up over the whole transmission, and each standard tone
// is read as the strongest bin within the tolerance of it. The loudest
// tone is the candidate, with three measures of how much it looks like a
// transmitter's tone rather than speech: its amplitude (in Hz of deviation),
// its share of the band's power, and its power over the median of the bins
// around it. Neighbouring tones lie 2.3 Hz apart at the bottom of the table;
// segments of two seconds keep a tone in its own bins and let a steady tone
// rise above a voice whose pitch wanders.
#pragma once

#include <memory>
#include <span>

#include "radio/base/failure.h"

namespace kdsp {

inline constexpr double CTCSS_SEGMENT_S = 2.0;
// How far a transmitter's tone may lie from its standard frequency: a
// clock 0.5 % off, or at least CTCSS_MIN_TOLERANCE_HZ. Neighbouring tones
// lie at least 1.5 % apart, so no two tolerances overlap.
inline constexpr double CTCSS_TOLERANCE = 0.005;
inline constexpr double CTCSS_MIN_TOLERANCE_HZ = 0.4;

struct CtcssReading {
  double tone_hz = 0.0;        // the loudest standard tone; 0 before any segment
  double deviation_hz = 0.0;   // its amplitude: the peak deviation it causes
  double band_fraction = 0.0;  // its share of the power from 55 to 266 Hz
  double ratio_db = 0.0;       // its power over the median of the bins around it
};

struct CtcssDetectorState;
struct CtcssDetectorRelease {
  void operator()(CtcssDetectorState* state) const;
};
using CtcssDetector = std::unique_ptr<CtcssDetectorState, CtcssDetectorRelease>;

// 0 with `*detector` set, or -1 with `*failure` set.
int create_ctcss_detector(CtcssDetector* detector, Failure* failure);

// Takes the next samples of the sub-audible band (at SUBAUDIBLE_RATE).
void feed_ctcss_detector(CtcssDetectorState& detector, std::span<const float> subaudible);

// The loudest tone once the last samples are in: the samples since the last
// whole segment count as a segment of their own.
CtcssReading finish_ctcss_detector(CtcssDetectorState& detector);

}  // namespace kdsp
