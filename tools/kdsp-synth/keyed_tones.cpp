#include "kdsp-synth/keyed_tones.h"

#include <algorithm>
#include <cmath>

#include "kdsp-synth/noise.h"

namespace kdsp {

namespace {

// Samples made at a time, and how many left behind before they are dropped.
constexpr std::size_t MAKE_SAMPLES = 256;
constexpr std::size_t KEEP_BEHIND = 4096;

// Makes the span's next samples, switching to the turn-off code where it is due.
void make_samples(SpanTone& span) {
  const std::uint64_t made = span.first + span.samples.size();
  std::size_t count = MAKE_SAMPLES;
  if (made < span.turn_off_sample) count = std::min<std::uint64_t>(count, span.turn_off_sample - made);
  if (made == span.turn_off_sample) start_dcs_turn_off(*span.generator);
  const std::size_t at = span.samples.size();
  span.samples.resize(at + count, 0.0f);
  add_tone(*span.generator, std::span<float>(span.samples.data() + at, count));
}

float sample_at(SpanTone& span, std::uint64_t index) {
  while (index >= span.first + span.samples.size()) make_samples(span);
  return span.samples[static_cast<std::size_t>(index - span.first)];
}

}  // namespace

std::vector<Tone> channel_tones(const std::vector<Tone>& list, std::size_t channels, std::uint64_t seed) {
  if (list.empty() || list.size() == channels) return list;
  RandomStream random = make_random_stream(seed ^ 0x746f6e6573ULL);
  std::vector<Tone> tones;
  for (std::size_t c = 0; c < channels; ++c) {
    const auto pick = static_cast<std::size_t>(next_uniform(random) * static_cast<double>(list.size()));
    tones.push_back(list[std::min(pick, list.size() - 1)]);
  }
  return tones;
}

int start_span_tone(const Tone& tone, double rate, double duration_s, SpanTone* span, Failure* failure) {
  SpanTone made;
  if (tone.kind != ToneKind::NONE &&
      create_tone_generator(tone, rate, KEYED_TONE_LEVEL, &made.generator, failure) != 0) {
    return -1;
  }
  made.rate = rate;
  made.turn_off_sample = static_cast<std::uint64_t>(std::max(0.0, duration_s - DCS_TURN_OFF_S) * rate);
  *span = std::move(made);
  return 0;
}

double span_tone_at(SpanTone& span, double t_s) {
  if (!span.generator) return 0.0;
  const double position = std::max(0.0, t_s) * span.rate;
  const auto index = static_cast<std::uint64_t>(position);
  const double fraction = position - static_cast<double>(index);
  if (index > span.first + KEEP_BEHIND) {
    const std::uint64_t drop = std::min<std::uint64_t>(index - span.first - 1, span.samples.size());
    span.samples.erase(span.samples.begin(), span.samples.begin() + static_cast<std::ptrdiff_t>(drop));
    span.first += drop;
  }
  return (1.0 - fraction) * sample_at(span, index) + fraction * sample_at(span, index + 1);
}

}  // namespace kdsp
