#include "radio/chain/after_demod.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <type_traits>
#include <vector>

#include "radio/chain/liquid_owner.h"

namespace kdsp {

namespace {

constexpr double FULL_SCALE = 32767.0;

std::vector<float> samples_from_pcm(std::span<const std::uint8_t> pcm) {
  std::vector<float> samples(pcm.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto code = static_cast<std::int16_t>(static_cast<std::uint16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8)));
    samples[i] = static_cast<float>(code / FULL_SCALE);
  }
  return samples;
}

void pcm_from_samples(const std::vector<float>& samples, std::span<std::uint8_t> pcm) {
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const double scaled = std::clamp(static_cast<double>(samples[i]) * FULL_SCALE, -FULL_SCALE, FULL_SCALE);
    const auto code = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(scaled)));
    pcm[2 * i] = static_cast<std::uint8_t>(code);
    pcm[2 * i + 1] = static_cast<std::uint8_t>(code >> 8);
  }
}

// y[n] = a x[n] + (1 - a) y[n-1], unit gain at 0 Hz, corner 1 / (2 pi tau).
int deemphasize(std::vector<float>& samples, double tau_s, double sample_rate) {
  const auto a = static_cast<float>(1.0 - std::exp(-1.0 / (tau_s * sample_rate)));
  float feed_forward[1] = {a};
  float feed_back[2] = {1.0f, a - 1.0f};
  const IirOwner filter(iirfilt_rrrf_create(feed_forward, 1, feed_back, 2));
  if (!filter) return -1;
  iirfilt_rrrf_execute_block(filter.get(), samples.data(), static_cast<unsigned>(samples.size()), samples.data());
  return 0;
}

void normalize(std::vector<float>& samples) {
  float peak = 0.0f;
  for (float sample : samples) peak = std::max(peak, std::fabs(sample));
  if (peak == 0.0f) return;  // silence stays silence
  const double gain = NORMALIZE_TARGET_PEAK / peak;
  for (float& sample : samples) sample = static_cast<float>(sample * gain);
}

}  // namespace

int apply_after_demod(const AfterDemod& after, double sample_rate, std::span<std::uint8_t> pcm, Failure* failure) {
  if (!wants_after_demod(after)) return 0;
  std::vector<float> samples = samples_from_pcm(pcm);
  if (after.deemphasis_us > 0.0 && deemphasize(samples, after.deemphasis_us * 1e-6, sample_rate) != 0) {
    *failure = Failure{"the de-emphasis filter could not be made (out of memory)"};
    return -1;
  }
  if (after.normalize) normalize(samples);
  pcm_from_samples(samples, pcm);
  return 0;
}

}  // namespace kdsp
