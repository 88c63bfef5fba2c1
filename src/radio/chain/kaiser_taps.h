// The taps of a Kaiser-window low-pass (liquid-dsp's firdes), unit gain at
// 0 Hz, moved up to where a channel lies: tap n turned by
// 2 pi offset (n - centre) / rate, so that the filter passes the band around
// the offset instead of around 0 Hz. The front end's first stage and the
// narrow capture filter are both made so.
#pragma once

#include <complex>
#include <vector>

namespace kdsp {

// `length` taps cut off at `cutoff_hz` at `sample_rate`, `stopband_db` down
// in the stop band, moved to `offset_hz`, the turn counted from tap
// `centre_tap`.
std::vector<std::complex<double>> kaiser_taps_at(unsigned length, double cutoff_hz, double sample_rate,
                                                 float stopband_db, double offset_hz, double centre_tap);

}  // namespace kdsp
