#include "radio/spectrum/noise_floor.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "radio/io/channel_width.h"

namespace kdsp {

namespace {

// Up to this many frames the gamma distribution's CDF is summed exactly;
// beyond, its terms would overflow and the Wilson-Hilferty approximation is
// within a part in ten thousand.
constexpr std::uint64_t EXACT_GAMMA_FRAMES = 64;
// The standard normal quantile at NOISE_FLOOR_QUANTILE.
constexpr double NORMAL_QUANTILE = -0.6744897501960817;

// P(k, x): the probability that a sum of k unit exponentials stays below x.
double gamma_cdf(std::uint64_t k, double x) {
  double term = 1.0;
  double sum = 1.0;
  for (std::uint64_t i = 1; i < k; ++i) {
    term *= x / static_cast<double>(i);
    sum += term;
  }
  return 1.0 - std::exp(-x) * sum;
}

}  // namespace

double noise_quantile_of_mean(std::uint64_t frames) {
  frames = std::max<std::uint64_t>(frames, 1);
  if (frames > EXACT_GAMMA_FRAMES) {
    const double spread = 1.0 / (9.0 * static_cast<double>(frames));
    return std::pow(1.0 - spread + NORMAL_QUANTILE * std::sqrt(spread), 3.0);
  }
  double low = 0.0;
  double high = 4.0;
  for (int step = 0; step < 60; ++step) {
    const double middle = 0.5 * (low + high);
    if (gamma_cdf(frames, middle * static_cast<double>(frames)) < NOISE_FLOOR_QUANTILE) {
      low = middle;
    } else {
      high = middle;
    }
  }
  return 0.5 * (low + high);
}

double noise_floor_per_bin(std::span<double> bin_powers, double quantile_of_mean) {
  if (bin_powers.empty()) return 0.0;
  const auto at =
      bin_powers.begin() + static_cast<std::ptrdiff_t>(NOISE_FLOOR_QUANTILE * static_cast<double>(bin_powers.size()));
  std::nth_element(bin_powers.begin(), at, bin_powers.end());
  return *at / quantile_of_mean;
}

double noise_floor_per_bin(std::span<double> bin_powers, std::uint64_t frames) {
  return noise_floor_per_bin(bin_powers, noise_quantile_of_mean(frames));
}

double carrier_to_noise_db(double carrier_power, double noise_per_bin, double bin_hz) {
  return 10.0 * std::log10(carrier_power / (noise_per_bin * CNR_BANDWIDTH_HZ / bin_hz));
}

}  // namespace kdsp
