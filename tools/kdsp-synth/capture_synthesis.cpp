#include "kdsp-synth/capture_synthesis.h"

#include <cmath>

#include "base/numbers.h"
#include "formats/iq_capture.h"
#include "kdsp-synth/noise.h"
#include "radio/chain/fm_modulator.h"
#include "radio/io/capture_file.h"
#include "radio/io/channel_width.h"

namespace kdsp {

namespace {

constexpr std::uint64_t PAIRS_PER_BLOCK = 16384;

}  // namespace

double noise_power_for_cnr(double amplitude, double cnr_db) {
  double carrier_power = amplitude * amplitude;
  double noise_in_band = carrier_power / std::pow(10.0, cnr_db / 10.0);
  return noise_in_band * (IQ_SAMPLE_RATE / CNR_BANDWIDTH_HZ);
}

std::vector<std::uint8_t> synthesize_capture_bytes(const CapturePlan& plan) {
  // Both start phases are drawn whether or not there is a second channel, so
  // that adding one leaves the first channel and the noise as they were.
  RandomStream random = make_random_stream(plan.seed);
  double first_phase = TWO_PI * next_uniform(random);
  double second_phase = TWO_PI * next_uniform(random);
  FmOscillator first = make_fm_oscillator(IQ_SAMPLE_RATE, plan.first.offset_hz, plan.first.deviation_hz,
                                          plan.first.amplitude, first_phase);
  FmOscillator second = make_fm_oscillator(IQ_SAMPLE_RATE, plan.second.offset_hz, plan.second.deviation_hz,
                                           plan.second.amplitude, second_phase);

  std::vector<std::uint8_t> bytes(plan.pair_count * IQ_PAIR_BYTES);
  std::vector<float> values(2 * PAIRS_PER_BLOCK);
  for (std::uint64_t start = 0; start < plan.pair_count; start += PAIRS_PER_BLOCK) {
    std::uint64_t count = std::min(PAIRS_PER_BLOCK, plan.pair_count - start);
    for (std::uint64_t i = 0; i < count; ++i) {
      std::uint64_t n = start + i;
      std::complex<double> pair = next_fm_pair(first, plan.first.audio[n]);
      if (plan.has_second) pair += next_fm_pair(second, plan.second.audio[n]);
      if (plan.noise_power > 0.0) pair += next_complex_gaussian(random, plan.noise_power);
      values[2 * i] = static_cast<float>(pair.real());
      values[2 * i + 1] = static_cast<float>(pair.imag());
    }
    encode_float32_le(std::span<const float>(values.data(), 2 * count), bytes.data() + start * IQ_PAIR_BYTES);
  }
  return bytes;
}

}  // namespace kdsp
