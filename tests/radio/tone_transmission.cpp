#include "radio/tone_transmission.h"

#include <cmath>
#include <random>

#include "formats/iq_capture.h"
#include "radio/chain/fm_modulator.h"
#include "radio/io/channel_width.h"

namespace kdsp {

namespace {

// The audio as radios build it, at the speech's own rate: the voice in the
// share of the deviation the tone leaves, and the tone.
std::vector<float> keyed_audio(const TransmissionPlan& plan, double rate) {
  const auto count = static_cast<std::size_t>(std::ceil(plan.duration_s * rate)) + 2;
  std::vector<float> audio(count, 0.0f);
  const double voice_share = plan.tone.kind == ToneKind::NONE ? 1.0 : 1.0 - plan.level;
  if (plan.speech != nullptr) {
    for (std::size_t n = 0; n < count; ++n) {
      audio[n] =
          static_cast<float>(voice_share * audio_at(*plan.speech, plan.speech_start_s + static_cast<double>(n) / rate));
    }
  }
  ToneGenerator generator;
  Failure failure;
  // A generator told of a slower rate than it is played at runs fast.
  if (create_tone_generator(plan.tone, rate / (1.0 + plan.clock_error), plan.level, &generator, &failure) != 0) {
    return audio;
  }
  const auto turn_off = static_cast<std::size_t>(std::max(0.0, plan.duration_s - DCS_TURN_OFF_S) * rate);
  add_tone(*generator, std::span<float>(audio.data(), std::min(turn_off, count)));
  start_dcs_turn_off(*generator);
  if (turn_off < count) add_tone(*generator, std::span<float>(audio.data() + turn_off, count - turn_off));
  return audio;
}

}  // namespace

std::vector<std::complex<float>> modulate_transmission(const TransmissionPlan& plan) {
  // The audio at 8000 per second, read between samples as audio_at does.
  constexpr std::size_t PAIRS_PER_SAMPLE = IQ_SAMPLE_RATE / 8000;
  const std::vector<float> audio = keyed_audio(plan, IQ_SAMPLE_RATE / PAIRS_PER_SAMPLE);
  const auto keyed = static_cast<std::size_t>(plan.duration_s * IQ_SAMPLE_RATE);
  const auto roll = static_cast<std::size_t>(plan.roll_s * IQ_SAMPLE_RATE);
  std::vector<std::complex<float>> capture(keyed + 2 * roll);
  FmOscillator oscillator =
      make_fm_oscillator(IQ_SAMPLE_RATE, plan.offset_hz, plan.deviation_hz, TRANSMISSION_AMPLITUDE, 0.0);
  for (std::size_t n = 0; n < keyed; ++n) {
    const std::size_t sample = n / PAIRS_PER_SAMPLE;
    const float fraction = static_cast<float>(n % PAIRS_PER_SAMPLE) / PAIRS_PER_SAMPLE;
    const float value = (1.0f - fraction) * audio[sample] + fraction * audio[sample + 1];
    capture[roll + n] = std::complex<float>(next_fm_pair(oscillator, value));
  }
  return capture;
}

NoiseTable make_noise_table(std::uint64_t seed) {
  // Longer than the longest transmission, so none meets its own noise again.
  constexpr std::size_t TABLE_PAIRS = NOISE_TABLE_PAIRS;
  std::mt19937_64 engine(seed);
  std::normal_distribution<float> normal(0.0f, static_cast<float>(std::sqrt(0.5)));
  NoiseTable table;
  table.samples.resize(TABLE_PAIRS);
  for (auto& pair : table.samples) pair = {normal(engine), normal(engine)};
  return table;
}

namespace {

float noise_scale(double cnr_db) {
  const double power = TRANSMISSION_AMPLITUDE * TRANSMISSION_AMPLITUDE / std::pow(10.0, cnr_db / 10.0) *
                       (IQ_SAMPLE_RATE / CNR_BANDWIDTH_HZ);
  return static_cast<float>(std::sqrt(power));
}

// out = clean + noise from the table's pair `first` on.
void add_noise_into(std::span<const std::complex<float>> clean, float scale, const NoiseTable& table, std::size_t first,
                    std::complex<float>* out) {
  for (std::size_t n = 0; n < clean.size(); ++n) {
    out[n] = clean[n] + scale * table.samples[(first + n) & (NOISE_TABLE_PAIRS - 1)];
  }
}

}  // namespace

std::vector<std::complex<float>> add_noise(const std::vector<std::complex<float>>& clean, double cnr_db,
                                           const NoiseTable& table, std::size_t first) {
  std::vector<std::complex<float>> noisy(clean.size());
  add_noise_into(clean, noise_scale(cnr_db), table, first, noisy.data());
  return noisy;
}

ToneReading decode_capture(const std::vector<std::complex<float>>& capture, double offset_hz, std::size_t block_pairs) {
  ToneDecoder decoder;
  Failure failure;
  if (create_tone_decoder(offset_hz, &decoder, &failure) != 0) return ToneReading{};
  const std::span<const std::complex<float>> all(capture);
  for (std::size_t at = 0; at < all.size(); at += block_pairs) {
    feed_tone_decoder(*decoder, all.subspan(at, std::min(block_pairs, all.size() - at)));
  }
  return finish_tone_decoder(*decoder);
}

ToneReading decode_in_noise(const std::vector<std::complex<float>>& clean, double offset_hz, double cnr_db,
                            const NoiseTable& table, std::size_t first) {
  constexpr std::size_t BLOCK_PAIRS = 16384;
  ToneDecoder decoder;
  Failure failure;
  if (create_tone_decoder(offset_hz, &decoder, &failure) != 0) return ToneReading{};
  std::vector<std::complex<float>> block(BLOCK_PAIRS);
  const std::span<const std::complex<float>> all(clean);
  for (std::size_t at = 0; at < all.size(); at += BLOCK_PAIRS) {
    const auto part = all.subspan(at, std::min(BLOCK_PAIRS, all.size() - at));
    add_noise_into(part, noise_scale(cnr_db), table, first + at, block.data());
    feed_tone_decoder(*decoder, std::span<const std::complex<float>>(block.data(), part.size()));
  }
  return finish_tone_decoder(*decoder);
}

bool reads_as(const ToneReading& reading, const Tone& sent) {
  if (reading.tone == sent) return true;
  return sent.kind == ToneKind::DCS && reading.tone.kind == ToneKind::DCS && reading.dcs_alias == sent;
}

}  // namespace kdsp
