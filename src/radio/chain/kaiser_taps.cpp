#include "radio/chain/kaiser_taps.h"

#include <cmath>
#include <numeric>

#include "base/numbers.h"
#include "radio/chain/liquid_owner.h"

namespace kdsp {

std::vector<std::complex<double>> kaiser_taps_at(unsigned length, double cutoff_hz, double sample_rate,
                                                 float stopband_db, double offset_hz, double centre_tap) {
  std::vector<float> low_pass(length);
  liquid_firdes_kaiser(length, static_cast<float>(cutoff_hz / sample_rate), stopband_db, 0.0f, low_pass.data());
  const double gain = std::accumulate(low_pass.begin(), low_pass.end(), 0.0);
  const double step = TWO_PI * offset_hz / sample_rate;
  std::vector<std::complex<double>> taps(length);
  for (unsigned n = 0; n < length; ++n) {
    const double angle = step * (static_cast<double>(n) - centre_tap);
    const double value = low_pass[n] / gain;
    taps[n] = {value * std::cos(angle), value * std::sin(angle)};
  }
  return taps;
}

}  // namespace kdsp
