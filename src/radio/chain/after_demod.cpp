#include "radio/chain/after_demod.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <type_traits>
#include <vector>

#include <ebur128.h>

#include "radio/chain/liquid_owner.h"

namespace kdsp {

namespace {

constexpr double FULL_SCALE = 32767.0;

struct EburRelease {
  void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};
using EburOwner = std::unique_ptr<ebur128_state, EburRelease>;

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

// A gain that brings the integrated loudness to `target_lufs`, held so
// that no sample passes LOUDNESS_PEAK_LIMIT. -1 when the meter could not
// be made.
int normalize_loudness(std::vector<float>& samples, double sample_rate, double target_lufs) {
  const EburOwner meter(ebur128_init(1, static_cast<unsigned long>(sample_rate), EBUR128_MODE_I));
  if (!meter) return -1;
  if (ebur128_add_frames_float(meter.get(), samples.data(), samples.size()) != EBUR128_SUCCESS) return -1;
  double loudness = 0.0;
  if (ebur128_loudness_global(meter.get(), &loudness) != EBUR128_SUCCESS || !std::isfinite(loudness)) return 0;
  float peak = 0.0f;
  for (float sample : samples) peak = std::max(peak, std::fabs(sample));
  if (peak == 0.0f) return 0;
  const double gain = std::min(std::pow(10.0, (target_lufs - loudness) / 20.0), LOUDNESS_PEAK_LIMIT / peak);
  for (float& sample : samples) sample = static_cast<float>(sample * gain);
  return 0;
}

}  // namespace

AfterDemod voice_after_demod(AfterDemod given) {
  if (given.deemphasis_us == 0.0) given.deemphasis_us = VOICE_DEEMPHASIS_US;
  if (given.loudness_lufs == 0.0) given.loudness_lufs = VOICE_LOUDNESS_LUFS;
  given.trim_tail = true;
  return given;
}

std::uint64_t tail_trimmed_samples(std::uint64_t carrier_end_sample, std::uint64_t total_samples,
                                   double sample_rate) {
  // The squelch's windows are about 51 ms: the last loud one may hold the
  // first of the burst.
  const auto window = static_cast<std::uint64_t>(0.0512 * sample_rate);
  const std::uint64_t end = carrier_end_sample > window ? carrier_end_sample - window : carrier_end_sample;
  return std::min(end, total_samples);
}

int apply_after_demod(const AfterDemod& after, double sample_rate, std::span<std::uint8_t> pcm, Failure* failure) {
  if (!wants_after_demod(after)) return 0;
  std::vector<float> samples = samples_from_pcm(pcm);
  if (after.deemphasis_us > 0.0 && deemphasize(samples, after.deemphasis_us * 1e-6, sample_rate) != 0) {
    *failure = Failure{"the de-emphasis filter could not be made (out of memory)"};
    return -1;
  }
  if (after.normalize) normalize(samples);
  if (after.loudness_lufs != 0.0 && normalize_loudness(samples, sample_rate, after.loudness_lufs) != 0) {
    *failure = Failure{"the loudness meter could not be made (out of memory)"};
    return -1;
  }
  pcm_from_samples(samples, pcm);
  return 0;
}

}  // namespace kdsp
