#include "radio/tones/tone_generator.h"

#include <cmath>

#include "dsp/oscillator.h"
#include "radio/chain/liquid_owner.h"
#include "radio/meta/dcs_words.h"

namespace kdsp {

struct ToneGeneratorState {
  Tone tone;
  double level = 0.0;
  PhaseAccumulator phase{};  // CTCSS, and the turn-off square wave
  double step = 0.0;         // radians per sample
  // DCS: the word on the air, the bit being sent and how far into it.
  std::uint32_t word = 0;
  unsigned bit = 0;
  double bit_fraction = 0.0;
  double bits_per_sample = 0.0;
  bool turning_off = false;
  IirOwner shaping;
};

void ToneGeneratorRelease::operator()(ToneGeneratorState* state) const { delete state; }

int create_tone_generator(const Tone& tone, double audio_rate, double level, ToneGenerator* generator,
                          Failure* failure) {
  if (!(audio_rate >= MIN_TONE_AUDIO_RATE && audio_rate <= MAX_TONE_AUDIO_RATE) || !(level >= 0.0 && level <= 1.0)) {
    *failure = Failure{"a tone needs an audio rate from 2000 to 192000 and a level from 0 to 1"};
    return -1;
  }
  ToneGenerator made(new ToneGeneratorState);
  made->tone = tone;
  made->level = level;
  made->phase = start_phase(0.0);
  if (tone.kind == ToneKind::CTCSS) made->step = TWO_PI * tone.ctcss_hz / audio_rate;
  if (tone.kind == ToneKind::DCS) {
    made->word = dcs_air_word(tone);
    made->bits_per_sample = DCS_BIT_RATE / audio_rate;
    made->step = TWO_PI * DCS_TURN_OFF_HZ / audio_rate;
    made->shaping.reset(
        iirfilt_rrrf_create_prototype(LIQUID_IIRDES_BESSEL, LIQUID_IIRDES_LOWPASS, LIQUID_IIRDES_SOS, DCS_SHAPING_ORDER,
                                      static_cast<float>(DCS_SHAPING_CUTOFF_HZ / audio_rate), 0.0f, 1.0f, 60.0f));
    if (!made->shaping) {
      *failure = Failure{"the DCS shaping filter could not be made"};
      return -1;
    }
  }
  *generator = std::move(made);
  return 0;
}

namespace {

// The DCS line before shaping: the current bit as +-1, or the turn-off
// square wave.
float next_dcs_level(ToneGeneratorState& g) {
  if (g.turning_off) {
    const double value = std::sin(g.phase.phase) >= 0.0 ? 1.0 : -1.0;
    advance_phase(g.phase, g.step);
    return static_cast<float>(value);
  }
  const float value = (g.word >> g.bit & 1u) ? 1.0f : -1.0f;
  g.bit_fraction += g.bits_per_sample;
  if (g.bit_fraction >= 1.0) {
    g.bit_fraction -= 1.0;
    g.bit = (g.bit + 1) % DCS_WORD_BITS;
  }
  return value;
}

}  // namespace

void add_tone(ToneGeneratorState& generator, std::span<float> audio) {
  const auto level = static_cast<float>(generator.level);
  if (generator.tone.kind == ToneKind::CTCSS) {
    for (float& sample : audio) {
      sample += level * static_cast<float>(std::sin(generator.phase.phase));
      advance_phase(generator.phase, generator.step);
    }
  } else if (generator.tone.kind == ToneKind::DCS) {
    for (float& sample : audio) {
      float shaped = 0.0f;
      iirfilt_rrrf_execute(generator.shaping.get(), next_dcs_level(generator), &shaped);
      sample += level * shaped;
    }
  }
}

void start_dcs_turn_off(ToneGeneratorState& generator) {
  if (generator.tone.kind != ToneKind::DCS || generator.turning_off) return;
  generator.turning_off = true;
  generator.phase = start_phase(0.0);
}

}  // namespace kdsp
