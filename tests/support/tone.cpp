#include "support/tone.h"

#include <cmath>

#include "base/numbers.h"

namespace kdsp {

double tone_amplitude(const std::vector<double>& samples, double sample_rate, double frequency_hz, std::size_t begin,
                      std::size_t end) {
  const double omega = TWO_PI * frequency_hz / sample_rate;
  double in_phase = 0.0;
  double quadrature = 0.0;
  for (std::size_t i = begin; i < end; ++i) {
    in_phase += samples[i] * std::cos(omega * static_cast<double>(i));
    quadrature += samples[i] * std::sin(omega * static_cast<double>(i));
  }
  const double n = static_cast<double>(end - begin);
  return 2.0 * std::sqrt(in_phase * in_phase + quadrature * quadrature) / n;
}

std::vector<double> wav_samples(const std::vector<std::uint8_t>& image) {
  std::vector<double> samples;
  for (std::size_t i = 44; i + 1 < image.size(); i += 2) {
    const auto code = static_cast<std::int16_t>(image[i] | (image[i + 1] << 8));
    samples.push_back(code / 32767.0);
  }
  return samples;
}

}  // namespace kdsp
