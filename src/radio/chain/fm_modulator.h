// Frequency modulation of one channel at a recording's pair rate: the phase
// advances by 2*pi*(offset + deviation*audio)/rate per pair, accumulated as
// the core's oscillators accumulate theirs. The one modulator of every
// recording the programs and the tests make.
#pragma once

#include <complex>

#include "dsp/oscillator.h"

namespace kdsp {

struct FmOscillator {
  PhaseAccumulator phase;  // that of the next pair, accumulated as the core's oscillators are
  double carrier_step;     // radians per pair for the offset
  double deviation_step;   // radians per pair for audio of 1.0
  double amplitude;
};

FmOscillator make_fm_oscillator(double sample_rate, double offset_hz, double deviation_hz, double amplitude,
                                double first_phase);

// The pair for the oscillator's current phase, then the phase advanced by
// one pair modulated with `audio`.
std::complex<double> next_fm_pair(FmOscillator& oscillator, float audio);

}  // namespace kdsp
