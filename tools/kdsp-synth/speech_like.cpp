#include "kdsp-synth/speech_like.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include "base/numbers.h"

namespace kdsp {

namespace {

// Formant frequencies (Hz) of a few vowels, roughly those of an adult voice.
struct Vowel {
  double f1, f2, f3;
};
constexpr Vowel VOWEL_A{730, 1090, 2440};
constexpr Vowel VOWEL_E{530, 1840, 2480};
constexpr Vowel VOWEL_I{270, 2290, 3010};
constexpr Vowel VOWEL_O{570, 840, 2410};
constexpr Vowel VOWEL_U{300, 870, 2240};

// One syllable: formants glide from `from` to `to`, pitch from start to end.
struct Syllable {
  Vowel from, to;
  double duration_s;
  double pitch_start_hz, pitch_end_hz;
  double loudness;
  double pause_after_s;
};

// About 2.6 s: two short phrases with falling intonation at their ends.
constexpr std::array<Syllable, 10> PHRASE{{
    {VOWEL_A, VOWEL_I, 0.22, 120, 135, 1.0, 0.04},
    {VOWEL_E, VOWEL_E, 0.16, 135, 140, 0.7, 0.03},
    {VOWEL_O, VOWEL_U, 0.28, 145, 130, 0.9, 0.12},
    {VOWEL_I, VOWEL_A, 0.20, 125, 150, 0.8, 0.05},
    {VOWEL_U, VOWEL_O, 0.30, 150, 105, 1.0, 0.30},
    {VOWEL_E, VOWEL_A, 0.18, 130, 140, 0.8, 0.04},
    {VOWEL_A, VOWEL_A, 0.24, 142, 150, 1.0, 0.06},
    {VOWEL_I, VOWEL_E, 0.15, 150, 138, 0.6, 0.03},
    {VOWEL_O, VOWEL_O, 0.22, 135, 128, 0.85, 0.05},
    {VOWEL_A, VOWEL_U, 0.32, 128, 98, 0.9, 0.35},
}};

constexpr double FORMANT_BANDWIDTH_HZ[3] = {90.0, 110.0, 170.0};
constexpr double FORMANT_GAIN[3] = {1.0, 0.55, 0.3};
constexpr double HIGHEST_HARMONIC_HZ = 3600.0;
constexpr double ATTACK_S = 0.03;
constexpr double RELEASE_S = 0.05;
constexpr double VIBRATO_HZ = 5.0;
constexpr double VIBRATO_DEPTH = 0.015;
// Harmonic amplitudes follow the formants; recomputing them every 1 ms is
// far faster than the glides they follow.
constexpr double ENVELOPE_UPDATE_S = 0.001;
constexpr std::size_t MAX_HARMONICS = 64;

double lerp(double a, double b, double fraction) { return a + (b - a) * fraction; }

// Spectral envelope at `hz`: three resonances over a falling glottal tilt.
double envelope_at(const Vowel& vowel, double hz, double pitch_hz) {
  const double formants[3] = {vowel.f1, vowel.f2, vowel.f3};
  double sum = 0.02;
  for (int i = 0; i < 3; ++i) {
    double detune = (hz - formants[i]) / (0.5 * FORMANT_BANDWIDTH_HZ[i]);
    sum += FORMANT_GAIN[i] / std::sqrt(1.0 + detune * detune);
  }
  return sum * std::sqrt(pitch_hz / hz);
}

// Raised-cosine attack and release within one syllable.
double syllable_gain(double t_s, double duration_s) {
  double gain = 1.0;
  if (t_s < ATTACK_S) gain = 0.5 - 0.5 * std::cos(PI * t_s / ATTACK_S);
  double left_s = duration_s - t_s;
  if (left_s < RELEASE_S) gain *= 0.5 - 0.5 * std::cos(PI * std::max(left_s, 0.0) / RELEASE_S);
  return gain;
}

// Where in the phrase a time falls: the syllable, the time within it, and
// whether it is in the pause after it.
struct PhrasePosition {
  const Syllable* syllable;
  double t_s;
  bool in_pause;
};

double phrase_length_s() {
  double total = 0.0;
  for (const Syllable& s : PHRASE) total += s.duration_s + s.pause_after_s;
  return total;
}

PhrasePosition locate(double t_s) {
  for (const Syllable& s : PHRASE) {
    if (t_s < s.duration_s) return {&s, t_s, false};
    t_s -= s.duration_s;
    if (t_s < s.pause_after_s) return {&s, t_s, true};
    t_s -= s.pause_after_s;
  }
  return {&PHRASE.back(), 0.0, true};
}

// Voice state held from one envelope update to the next.
struct VoiceFrame {
  double pitch_hz = 0.0;
  std::size_t harmonic_count = 0;
  std::array<double, MAX_HARMONICS> amplitude{};
};

VoiceFrame voice_frame_at(double t_s, double phrase_s) {
  VoiceFrame frame;
  PhrasePosition where = locate(std::fmod(t_s, phrase_s));
  if (where.in_pause) return frame;
  const Syllable& s = *where.syllable;
  double fraction = where.t_s / s.duration_s;
  double vibrato = 1.0 + VIBRATO_DEPTH * std::sin(TWO_PI * VIBRATO_HZ * t_s);
  frame.pitch_hz = lerp(s.pitch_start_hz, s.pitch_end_hz, fraction) * vibrato;
  Vowel vowel{lerp(s.from.f1, s.to.f1, fraction), lerp(s.from.f2, s.to.f2, fraction),
              lerp(s.from.f3, s.to.f3, fraction)};
  double gain = s.loudness * syllable_gain(where.t_s, s.duration_s);
  frame.harmonic_count = std::min(MAX_HARMONICS, static_cast<std::size_t>(HIGHEST_HARMONIC_HZ / frame.pitch_hz));
  for (std::size_t k = 1; k <= frame.harmonic_count; ++k) {
    frame.amplitude[k - 1] = gain * envelope_at(vowel, static_cast<double>(k) * frame.pitch_hz, frame.pitch_hz);
  }
  return frame;
}

// Sum of the harmonics of the glottal phase: sin(k*phase) by the Chebyshev
// recurrence, one sine and cosine per sample whatever the harmonic count.
double harmonic_sum(const VoiceFrame& frame, double phase) {
  double s1 = std::sin(phase);
  double twice_cos = 2.0 * std::cos(phase);
  double previous = 0.0;
  double current = s1;
  double sum = 0.0;
  for (std::size_t k = 0; k < frame.harmonic_count; ++k) {
    sum += frame.amplitude[k] * current;
    double next = twice_cos * current - previous;
    previous = current;
    current = next;
  }
  return sum;
}

}  // namespace

std::vector<float> make_speech_like(double duration_s, std::uint32_t sample_rate) {
  auto count = static_cast<std::size_t>(std::llround(duration_s * sample_rate));
  std::vector<double> voice(count);
  const double rate = static_cast<double>(sample_rate);
  const double phrase_s = phrase_length_s();
  const std::size_t update_interval = std::max<std::size_t>(1, static_cast<std::size_t>(ENVELOPE_UPDATE_S * rate));

  VoiceFrame frame;
  double phase = 0.0;
  double peak = 0.0;
  for (std::size_t n = 0; n < count; ++n) {
    if (n % update_interval == 0) frame = voice_frame_at(static_cast<double>(n) / rate, phrase_s);
    voice[n] = harmonic_sum(frame, phase);
    peak = std::max(peak, std::fabs(voice[n]));
    phase = std::remainder(phase + TWO_PI * frame.pitch_hz / rate, TWO_PI);
  }

  std::vector<float> samples(count);
  double scale = peak > 0.0 ? 1.0 / peak : 0.0;
  for (std::size_t n = 0; n < count; ++n) samples[n] = static_cast<float>(voice[n] * scale);
  return samples;
}

}  // namespace kdsp
