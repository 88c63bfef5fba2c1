#include "radio/chain/fm_modulator.h"

#include "base/numbers.h"

namespace kdsp {

FmOscillator make_fm_oscillator(double sample_rate, double offset_hz, double deviation_hz, double amplitude,
                                double first_phase) {
  return FmOscillator{start_phase(first_phase), TWO_PI * offset_hz / sample_rate, TWO_PI * deviation_hz / sample_rate,
                      amplitude};
}

std::complex<double> next_fm_pair(FmOscillator& oscillator, float audio) {
  const std::complex<double> pair = std::polar(oscillator.amplitude, oscillator.phase.phase);
  advance_phase(oscillator.phase, oscillator.carrier_step + oscillator.deviation_step * static_cast<double>(audio));
  return pair;
}

}  // namespace kdsp
