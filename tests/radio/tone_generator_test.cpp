// The tone a transmitter adds to its audio, as a receiver would measure it:
// a CTCSS tone's frequency and level, a DCS word's bits read back at the
// middle of each bit, the same signal whatever the blocks, the turn-off code.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "base/numbers.h"
#include "radio/meta/dcs_words.h"
#include "radio/tones/tone_generator.h"
#include "support/tone.h"

namespace kdsp {

namespace {

constexpr double AUDIO_RATE = 8000.0;

std::vector<float> generate(const Tone& tone, double level, std::size_t count, std::size_t block) {
  ToneGenerator generator;
  Failure failure;
  EXPECT_EQ(create_tone_generator(tone, AUDIO_RATE, level, &generator, &failure), 0) << failure;
  std::vector<float> audio(count, 0.0f);
  for (std::size_t at = 0; at < count; at += block) {
    add_tone(*generator, std::span<float>(audio.data() + at, std::min(block, count - at)));
  }
  return audio;
}

std::vector<double> widen(const std::vector<float>& audio) { return std::vector<double>(audio.begin(), audio.end()); }

}  // namespace

TEST(ToneGenerator, CtcssIsASineAtItsFrequencyAndLevel) {
  for (double hz : {67.0, 100.0, 254.1}) {
    const auto audio = widen(generate(Tone{ToneKind::CTCSS, hz, 0, false}, 0.15, 8000, 8000));
    EXPECT_NEAR(tone_amplitude(audio, AUDIO_RATE, hz, 0, audio.size()), 0.15, 0.0015) << hz;
    EXPECT_LT(tone_amplitude(audio, AUDIO_RATE, hz + 2.0, 0, audio.size()), 0.01) << hz;
  }
}

TEST(ToneGenerator, DcsCarriesTheWordBitByBit) {
  // Reading the level at the middle of each bit (behind the shaping
  // filter's delay) gives the word on the air, repeated, from its first bit.
  for (const Tone& tone : {Tone{ToneKind::DCS, 0.0, 23, false}, Tone{ToneKind::DCS, 0.0, 754, true}}) {
    const auto audio = generate(tone, 0.15, 8000, 8000);
    const double samples_per_bit = AUDIO_RATE / DCS_BIT_RATE;
    const double delay = 0.2 * samples_per_bit;
    float peak = 0.0f;
    for (float sample : audio) peak = std::max(peak, std::fabs(sample));
    EXPECT_GT(peak, 0.14f);
    EXPECT_LT(peak, 0.15f * 1.15f) << "the shaping overshoots a little at most";
    for (unsigned bit = 0; bit < 5 * DCS_WORD_BITS; ++bit) {
      const auto at = static_cast<std::size_t>((bit + 0.5) * samples_per_bit + delay);
      const bool sent = (dcs_air_word(tone) >> (bit % DCS_WORD_BITS) & 1u) != 0;
      EXPECT_EQ(audio[at] > 0.0f, sent) << tone_name(tone) << " bit " << bit;
    }
  }
}

TEST(ToneGenerator, BlocksOfAnySizeMakeTheSameSignal) {
  for (const Tone& tone : {Tone{ToneKind::CTCSS, 123.0, 0, false}, Tone{ToneKind::DCS, 0.0, 411, false}}) {
    const auto whole = generate(tone, 0.2, 20000, 20000);
    for (std::size_t block : {1u, 13u, 4096u}) EXPECT_EQ(generate(tone, 0.2, 20000, block), whole) << block;
  }
}

TEST(ToneGenerator, TurnOffCodeIsTheFixedSquareWave) {
  ToneGenerator generator;
  Failure failure;
  ASSERT_EQ(create_tone_generator(Tone{ToneKind::DCS, 0.0, 23, false}, AUDIO_RATE, 0.15, &generator, &failure), 0);
  std::vector<float> audio(4000, 0.0f);
  add_tone(*generator, std::span<float>(audio.data(), 2000));
  start_dcs_turn_off(*generator);
  add_tone(*generator, std::span<float>(audio.data() + 2000, 2000));
  const auto samples = widen(audio);
  // A square wave's fundamental is 4 / pi of its level; the shaping keeps it.
  EXPECT_NEAR(tone_amplitude(samples, AUDIO_RATE, DCS_TURN_OFF_HZ, 2400, 4000), 0.15 * 4.0 / PI, 0.02);
  EXPECT_LT(tone_amplitude(samples, AUDIO_RATE, DCS_TURN_OFF_HZ, 0, 2000), 0.1);
}

TEST(ToneGenerator, NoToneAddsNothingAndBadSettingsAreRefused) {
  EXPECT_EQ(generate(Tone{}, 0.15, 1000, 100), std::vector<float>(1000, 0.0f));
  for (const auto& [rate, level] :
       {std::pair{0.0, 0.15}, {1000.0, 0.15}, {8000.0, -0.1}, {8000.0, 1.5}, {std::nan(""), 0.15}}) {
    ToneGenerator generator;
    Failure failure;
    EXPECT_EQ(create_tone_generator(Tone{ToneKind::CTCSS, 100.0, 0, false}, rate, level, &generator, &failure), -1);
    EXPECT_FALSE(generator);
    EXPECT_FALSE(failure.cause.empty());
  }
}

}  // namespace kdsp
