#include "kdsp-synth/keyed_recording.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "base/numbers.h"
#include "kdsp-synth/audio_source.h"
#include "kdsp-synth/keyed_tones.h"
#include "kdsp-synth/noise.h"
#include "radio/chain/fm_modulator.h"
#include "radio/io/channel_width.h"

namespace kdsp {

namespace {

// Speech among codec2-examples' samples (8 kHz, 16-bit raw), taken in turn.
constexpr const char* SPEECH_NAMES[] = {"hts1a.raw", "ve9qrp_10s.raw", "cq_ref.raw", "kristoff.raw", "vk5qi.raw",
                                        "hts2a.raw", "mmt1.raw",       "morig.raw",  "forig.raw",    "big_dog.raw"};
constexpr double SPEECH_RATE = 8000.0;
constexpr std::size_t BLOCK_PAIRS = 65536;

struct Speech {
  std::string name;
  std::vector<float> samples;
  double rate = SPEECH_RATE;
};

std::vector<Speech> load_speech(const std::string& dir) {
  std::vector<Speech> speech;
  for (const char* name : SPEECH_NAMES) {
    std::ifstream in(dir + "/" + name, std::ios::binary);
    const std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (raw.size() < 2 * 8000) continue;
    Speech one{name, std::vector<float>(raw.size() / 2), SPEECH_RATE};
    for (std::size_t n = 0; n < one.samples.size(); ++n) {
      std::int16_t value = 0;
      std::memcpy(&value, raw.data() + 2 * n, 2);
      one.samples[n] = value;
    }
    normalize_peak(one.samples);
    speech.push_back(std::move(one));
  }
  if (speech.empty()) {
    // Without the samples, the built-in spoken-like signal.
    AudioRequest voice;
    const SourceAudio made = make_builtin_audio(voice, 10.0);
    speech.push_back({"voice", made.samples, static_cast<double>(made.sample_rate)});
  }
  return speech;
}

double speech_at(const Speech& speech, double t_s) {
  const double position = t_s * speech.rate;
  const auto index = static_cast<std::size_t>(position);
  const double fraction = position - static_cast<double>(index);
  const std::size_t n = speech.samples.size();
  return (1.0 - fraction) * speech.samples[index % n] + fraction * speech.samples[(index + 1) % n];
}

double uniform_between(RandomStream& random, double low, double high) {
  return low + (high - low) * next_uniform(random);
}

// The audio of a channel keyed with a tone: the voice in the share of the
// deviation the tone leaves it, and the tone.
double toned_audio_at(const Speech& speech, SpanTone& tone, double t_s) {
  return (1.0 - KEYED_TONE_LEVEL) * speech_at(speech, t_s) + span_tone_at(tone, t_s);
}

}  // namespace

std::vector<double> random_raster_offsets(std::size_t count, double raster_hz, double sample_rate, std::uint64_t seed) {
  const auto reach = static_cast<long long>(std::floor((sample_rate / 2.0 - 1.5 * raster_hz) / raster_hz));
  std::vector<long long> slots;
  for (long long k = -reach; k <= reach; ++k) {
    if (k != 0) slots.push_back(k);
  }
  RandomStream random = make_random_stream(seed ^ 0x6b657965ULL);
  std::vector<double> offsets;
  while (offsets.size() < count && !slots.empty()) {
    const auto pick = static_cast<std::size_t>(next_uniform(random) * static_cast<double>(slots.size()));
    offsets.push_back(static_cast<double>(slots[pick]) * raster_hz);
    slots.erase(slots.begin() + static_cast<std::ptrdiff_t>(pick));
  }
  std::sort(offsets.begin(), offsets.end());
  return offsets;
}

std::vector<KeyedSpan> keyed_spans(const KeyedPlan& plan) {
  std::vector<KeyedSpan> spans = plan.spans;
  if (spans.empty()) {
    RandomStream random = make_random_stream(plan.seed ^ 0x6b6579ULL);
    for (std::size_t c = 0; c < plan.offsets_hz.size(); ++c) {
      double t = uniform_between(random, 0.0, RANDOM_OFF_MAX_S);
      for (;;) {
        const double on = uniform_between(random, RANDOM_ON_MIN_S, RANDOM_ON_MAX_S);
        if (t + on > plan.duration_s - 0.5) break;
        spans.push_back({c, t, t + on});
        t += on + uniform_between(random, RANDOM_OFF_MIN_S, RANDOM_OFF_MAX_S);
      }
    }
  }
  std::sort(spans.begin(), spans.end(), [](const KeyedSpan& a, const KeyedSpan& b) {
    return a.start_s != b.start_s ? a.start_s < b.start_s : a.channel < b.channel;
  });
  return spans;
}

int synthesize_keyed_recording(const KeyedPlan& plan, const std::vector<KeyedSpan>& spans,
                               const KeyedBytesSink& write) {
  const std::vector<Speech> speech = load_speech(plan.speech_dir);
  const auto total = static_cast<std::uint64_t>(std::llround(plan.duration_s * plan.sample_rate));
  const std::size_t width = pair_bytes(plan.format);
  std::vector<std::uint8_t> out(BLOCK_PAIRS * width);
  const double amplitude = std::min(0.5, 0.8 / static_cast<double>(std::max<std::size_t>(plan.offsets_hz.size(), 1)));
  const double noise_power =
      plan.add_noise ? amplitude * amplitude / std::pow(10.0, plan.cnr_db / 10.0) * plan.sample_rate / CNR_BANDWIDTH_HZ
                     : 0.0;
  RandomStream random = make_random_stream(plan.seed);
  std::vector<FmOscillator> channels;
  for (double offset : plan.offsets_hz) {
    const double first_phase = TWO_PI * next_uniform(random);
    channels.push_back(make_fm_oscillator(plan.sample_rate, offset, plan.deviation_hz, amplitude, first_phase));
  }
  std::vector<std::complex<double>> block(BLOCK_PAIRS);
  // Each transmission's tone from when it is first reached to its end.
  std::vector<SpanTone> span_tones(plan.tones.empty() ? 0 : spans.size());
  Failure failure;
  for (std::uint64_t first = 0; first < total; first += BLOCK_PAIRS) {
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(BLOCK_PAIRS, total - first));
    std::fill(block.begin(), block.end(), std::complex<double>{});
    const double block_start = static_cast<double>(first) / plan.sample_rate;
    const double block_end = static_cast<double>(first + count) / plan.sample_rate;
    for (std::size_t s = 0; s < spans.size(); ++s) {
      const KeyedSpan& span = spans[s];
      if (span.end_s <= block_start || span.start_s >= block_end) continue;
      const Speech& voice = speech[s % speech.size()];
      FmOscillator& channel = channels[span.channel];
      SpanTone* tone = span_tones.empty() ? nullptr : &span_tones[s];
      if (tone != nullptr && tone->rate == 0.0 &&
          start_span_tone(plan.tones[span.channel], voice.rate, span.end_s - span.start_s, tone, &failure) != 0) {
        return -1;
      }
      for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(first + i) / plan.sample_rate;
        if (t < span.start_s || t >= span.end_s) continue;
        const double audio =
            tone == nullptr ? speech_at(voice, t - span.start_s) : toned_audio_at(voice, *tone, t - span.start_s);
        block[i] += next_fm_pair(channel, static_cast<float>(audio));
      }
      if (tone != nullptr && span.end_s <= block_end) *tone = SpanTone{};
    }
    if (noise_power > 0.0) {
      for (std::size_t i = 0; i < count; ++i) block[i] += next_complex_gaussian(random, noise_power);
    }
    encode_pairs(plan.format, block.data(), count, out.data());
    if (write(std::span<const std::uint8_t>(out.data(), count * width)) != 0) return -1;
  }
  return 0;
}

std::string keyed_truth_json(const KeyedPlan& plan, const std::vector<KeyedSpan>& spans) {
  const std::vector<Speech> speech = load_speech(plan.speech_dir);
  nlohmann::ordered_json truth = nlohmann::ordered_json::array();
  for (std::size_t s = 0; s < spans.size(); ++s) {
    nlohmann::ordered_json item;
    item["offset_hz"] = plan.offsets_hz[spans[s].channel];
    item["start_s"] = spans[s].start_s;
    item["end_s"] = spans[s].end_s;
    item["speech"] = speech[s % speech.size()].name;
    if (!plan.tones.empty()) {
      const Tone& tone = plan.tones[spans[s].channel];
      item["ctcss_hz"] = tone.kind == ToneKind::CTCSS ? nlohmann::ordered_json(tone.ctcss_hz) : nullptr;
      item["dcs"] = tone.kind == ToneKind::DCS ? nlohmann::ordered_json(dcs_code_name(tone.dcs_code, tone.dcs_inverted))
                                               : nullptr;
    }
    truth.push_back(item);
  }
  return truth.dump(2) + "\n";
}

}  // namespace kdsp
