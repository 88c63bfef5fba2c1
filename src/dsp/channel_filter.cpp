#include "dsp/channel_filter.h"

#include <cmath>

#include "base/numbers.h"
#include "dsp/detail.h"

namespace kdsp {

double detail::bessel_i0(double x, std::uint32_t* last_term_k) {
  const double q = (x * x) * 0.25;
  double term = 1.0;
  double sum = 1.0;
  std::uint32_t k = 1;
  for (; k <= 39; ++k) {
    const double kd = static_cast<double>(k);
    term = term * (q / (kd * kd));
    sum = sum + term;
    if (term < sum * 1e-16) break;
  }
  if (last_term_k != nullptr) *last_term_k = k <= 39 ? k : 39;
  return sum;
}

double design_channel_filter(double* taps) {
  // The cut-off's bits are part of every tap.
  constexpr double cutoff_rad = TWO_PI * 13500.0 / 240000.0;
  static_assert(cutoff_rad == 0.3534291735288517);
  const double centre_value = 0.1125;  // 2 * 13500 / 240000
  const double beta = 6.5;             // Kaiser window
  const double centre = static_cast<double>(CHANNEL_FILTER_CENTRE);

  const double window_norm = detail::bessel_i0(beta);
  double tap_sum = 0.0;
  for (std::uint32_t i = 0; i < CHANNEL_FILTER_TAPS; ++i) {
    const double x = static_cast<double>(i) - centre;
    const double ideal = x == 0.0 ? centre_value : std::sin(cutoff_rad * x) / (PI * x);
    const double r = (static_cast<double>(i) - centre) / centre;
    const double w = std::sqrt(std::fmax(1.0 - r * r, 0.0));
    taps[i] = (detail::bessel_i0(w * beta) / window_norm) * ideal;
    tap_sum = tap_sum + taps[i];
  }
  // A division per tap, not a multiplication by a reciprocal: the last bits
  // of every tap are part of the result.
  for (std::uint32_t i = 0; i < CHANNEL_FILTER_TAPS; ++i) taps[i] = taps[i] / tap_sum;
  return tap_sum;
}

}  // namespace kdsp
