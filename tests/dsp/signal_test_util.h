// Helpers shared by the signal-processing tests: test signals with physical
// meaning (tones, FM captures) and measurements on them (tone amplitude by
// least-squares fit, RMS).
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/numbers.h"
#include "dsp/complex.h"
#include "formats/audio_buffer.h"

namespace kdsp {

namespace dsp_test {

// Owns an AudioBuffer returned by a signal function.
struct AudioBufferDeleter {
  void operator()(AudioBuffer* buffer) const { free_audio_buffer(buffer); }
};
using AudioBufferPtr = std::unique_ptr<AudioBuffer, AudioBufferDeleter>;

// amplitude * cos(2 pi f t + phase) sampled at `rate_hz`.
inline std::vector<float> make_tone(std::uint64_t count, double f_hz, double amplitude, double rate_hz = 48000.0,
                                    double phase = 0.0) {
  std::vector<float> x(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    x[i] = static_cast<float>(amplitude * std::cos(TWO_PI * f_hz * static_cast<double>(i) / rate_hz + phase));
  }
  return x;
}

// Interleaved I/Q capture at 240 kHz of a carrier at `carrier_hz` (relative to
// the capture centre), frequency-modulated by a cosine of `audio_hz` with
// peak deviation `deviation_hz` (0 gives a plain complex tone).
inline std::vector<float> make_fm_capture(std::uint64_t pair_count, double carrier_hz, double deviation_hz = 0.0,
                                          double audio_hz = 1000.0, double amplitude = 0.5) {
  std::vector<float> iq(2 * pair_count);
  const double rate = 240000.0;
  for (std::uint64_t n = 0; n < pair_count; ++n) {
    const double t = static_cast<double>(n) / rate;
    // Carrier phase reduced exactly in cycles before scaling, so long captures stay accurate.
    const double carrier_cycles = std::fmod(carrier_hz * t, 1.0);
    const double phase = TWO_PI * carrier_cycles + (deviation_hz / audio_hz) * std::sin(TWO_PI * audio_hz * t);
    iq[2 * n] = static_cast<float>(amplitude * std::cos(phase));
    iq[2 * n + 1] = static_cast<float>(amplitude * std::sin(phase));
  }
  return iq;
}

// Least-squares fit of a*cos + b*sin + dc at `f_hz` over x[begin .. end-1];
// returns the tone's amplitude sqrt(a^2 + b^2).
inline double tone_amplitude(const float* x, std::uint64_t begin, std::uint64_t end, double f_hz,
                             double rate_hz = 48000.0) {
  // Normal equations of the 3-parameter fit, solved by Cramer's rule.
  double m[3][3] = {};
  double v[3] = {};
  for (std::uint64_t i = begin; i < end; ++i) {
    const double w = TWO_PI * f_hz * static_cast<double>(i) / rate_hz;
    const double basis[3] = {std::cos(w), std::sin(w), 1.0};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) m[r][c] += basis[r] * basis[c];
      v[r] += basis[r] * static_cast<double>(x[i]);
    }
  }
  auto det3 = [](double a[3][3]) {
    return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  };
  const double d = det3(m);
  double coef[2];
  for (int col = 0; col < 2; ++col) {
    double mc[3][3];
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) mc[r][c] = c == col ? v[r] : m[r][c];
    coef[col] = det3(mc) / d;
  }
  return std::sqrt(coef[0] * coef[0] + coef[1] * coef[1]);
}

inline double rms(const float* x, std::uint64_t begin, std::uint64_t end) {
  double sum = 0.0;
  for (std::uint64_t i = begin; i < end; ++i) sum += static_cast<double>(x[i]) * static_cast<double>(x[i]);
  return std::sqrt(sum / static_cast<double>(end - begin));
}

inline double max_abs(const float* x, std::uint64_t begin, std::uint64_t end) {
  double peak = 0.0;
  for (std::uint64_t i = begin; i < end; ++i) peak = std::fmax(peak, std::fabs(static_cast<double>(x[i])));
  return peak;
}

}  // namespace dsp_test

}  // namespace kdsp
