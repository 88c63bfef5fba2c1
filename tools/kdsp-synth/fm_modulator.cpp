#include "fm_modulator.h"

#include <cmath>
#include <numbers>

#include "dsp/oscillator.h"
#include "formats/iq_capture.h"

namespace kdsp {

namespace {
constexpr double TWO_PI = 2.0 * std::numbers::pi;
}

FmOscillator make_fm_oscillator(double offset_hz, double deviation_hz, double amplitude, double start_phase) {
  return FmOscillator{start_phase, TWO_PI * offset_hz / IQ_SAMPLE_RATE, TWO_PI * deviation_hz / IQ_SAMPLE_RATE,
                      amplitude, 0};
}

std::complex<double> next_fm_pair(FmOscillator& oscillator, float audio) {
  std::complex<double> pair = std::polar(oscillator.amplitude, oscillator.phase);
  oscillator.phase += oscillator.carrier_step + oscillator.deviation_step * static_cast<double>(audio);
  // The accumulated phase would grow to millions of radians over a long
  // capture and lose precision; the exact IEEE remainder keeps it in [-pi, pi].
  if (++oscillator.pair_index % PHASE_WRAP_INTERVAL == 0) oscillator.phase = std::remainder(oscillator.phase, TWO_PI);
  return pair;
}

}  // namespace kdsp
