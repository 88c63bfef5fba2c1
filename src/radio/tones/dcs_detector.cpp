#include "radio/tones/dcs_detector.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "radio/meta/dcs_words.h"
#include "radio/tones/subaudible_demod.h"

namespace kdsp {

namespace {

constexpr std::size_t WORD_SLOTS = DCS_WORD_BITS * DCS_SAMPLES_PER_BIT;
// A sample at SUBAUDIBLE_RATE falls in slot floor(n * 112 / 125) of the
// word's 184: 134.4 * 8 / 1200 = 112 / 125 exactly, so whole numbers place
// every sample of hours of band without drift.
constexpr std::uint64_t SLOTS_PER_STEP = 112;
constexpr std::uint64_t SAMPLES_PER_STEP = 125;
static_assert(SLOTS_PER_STEP * SUBAUDIBLE_RATE == SAMPLES_PER_STEP * DCS_BIT_RATE * DCS_SAMPLES_PER_BIT);
// A transmission's last, partial chunk counts when it holds this many words.
constexpr std::uint64_t MIN_TAIL_SLOTS = 2 * WORD_SLOTS;
constexpr std::size_t CODE_COUNT = DCS_CODES.size();

// A code's word as the band carries it, +1 for a bit that raises the
// carrier, less the word's mean so that a carrier off its frequency (a
// constant in the band) scores nothing.
struct WordTemplate {
  std::array<double, DCS_WORD_BITS> bit;
  double energy_per_bit;  // the mean of bit^2
};

WordTemplate word_template(std::uint16_t code) {
  const std::uint32_t word = dcs_word(code);
  WordTemplate t{};
  double mean = 0.0;
  for (unsigned j = 0; j < DCS_WORD_BITS; ++j) {
    t.bit[j] = (word >> j & 1u) ? 1.0 : -1.0;
    mean += t.bit[j] / DCS_WORD_BITS;
  }
  for (double& b : t.bit) b -= mean;
  t.energy_per_bit = 1.0 - mean * mean;
  return t;
}

const std::array<WordTemplate, CODE_COUNT>& templates() {
  static const std::array<WordTemplate, CODE_COUNT> all = [] {
    std::array<WordTemplate, CODE_COUNT> made;
    for (std::size_t c = 0; c < CODE_COUNT; ++c) made[c] = word_template(DCS_CODES[c]);
    return made;
  }();
  return all;
}

}  // namespace

struct DcsDetectorState {
  std::uint64_t sample = 0;  // of the band, from the transmission's start
  std::uint64_t chunk = 0;   // the chunk being folded
  std::array<double, WORD_SLOTS> fold{};
  std::array<std::uint32_t, WORD_SLOTS> slot_samples{};
  std::uint64_t chunk_samples = 0;  // folded into this chunk
  std::uint64_t chunk_slots = 0;    // slots it spans so far
  double chunk_sum = 0.0;
  double chunk_square_sum = 0.0;
  std::array<double, CODE_COUNT> scores{};  // each code's best per chunk, summed
  double energy = 0.0;                      // of the band less each chunk's mean
  double samples = 0.0;                     // in the chunks scored
};

void DcsDetectorRelease::operator()(DcsDetectorState* state) const { delete state; }

void create_dcs_detector(DcsDetector* detector) {
  templates();
  detector->reset(new DcsDetectorState);
}

namespace {

// The best score of one code's word over the chunk: bit sums[phase][j] hold
// the fold summed over bit j starting `phase` samples into the word.
double best_alignment(const WordTemplate& t,
                      const std::array<std::array<double, DCS_WORD_BITS>, DCS_SAMPLES_PER_BIT>& bit_sums) {
  double best = 0.0;
  for (const auto& sums : bit_sums) {
    for (unsigned rotation = 0; rotation < DCS_WORD_BITS; ++rotation) {
      double score = 0.0;
      for (unsigned j = 0; j < DCS_WORD_BITS; ++j) score += sums[j] * t.bit[(j + rotation) % DCS_WORD_BITS];
      best = std::max(best, score);
    }
  }
  return best;
}

// Scores the chunk folded so far against every code and starts a new one.
void score_chunk(DcsDetectorState& d) {
  const double count = static_cast<double>(d.chunk_samples);
  const double mean = d.chunk_sum / count;
  std::array<double, WORD_SLOTS> centred;
  for (std::size_t m = 0; m < WORD_SLOTS; ++m) centred[m] = d.fold[m] - d.slot_samples[m] * mean;
  std::array<std::array<double, DCS_WORD_BITS>, DCS_SAMPLES_PER_BIT> bit_sums{};
  for (unsigned phase = 0; phase < DCS_SAMPLES_PER_BIT; ++phase) {
    for (unsigned j = 0; j < DCS_WORD_BITS; ++j) {
      for (unsigned i = 0; i < DCS_SAMPLES_PER_BIT; ++i) {
        bit_sums[phase][j] += centred[(phase + j * DCS_SAMPLES_PER_BIT + i) % WORD_SLOTS];
      }
    }
  }
  for (std::size_t c = 0; c < CODE_COUNT; ++c) d.scores[c] += best_alignment(templates()[c], bit_sums);
  d.energy += std::max(0.0, d.chunk_square_sum - count * mean * mean);
  d.samples += count;
  d.fold.fill(0.0);
  d.slot_samples.fill(0);
  d.chunk_samples = 0;
  d.chunk_slots = 0;
  d.chunk_sum = 0.0;
  d.chunk_square_sum = 0.0;
}

void fold_sample(DcsDetectorState& d, float sample) {
  const std::uint64_t slot = d.sample * SLOTS_PER_STEP / SAMPLES_PER_STEP;
  const std::uint64_t chunk = slot / (WORD_SLOTS * DCS_CHUNK_WORDS);
  if (chunk != d.chunk && d.chunk_samples > 0) score_chunk(d);
  d.chunk = chunk;
  d.chunk_slots = slot % (WORD_SLOTS * DCS_CHUNK_WORDS) + 1;
  d.fold[slot % WORD_SLOTS] += sample;
  ++d.slot_samples[slot % WORD_SLOTS];
  ++d.chunk_samples;
  ++d.sample;
  d.chunk_sum += sample;
  d.chunk_square_sum += static_cast<double>(sample) * sample;
}

}  // namespace

void feed_dcs_detector(DcsDetectorState& detector, std::span<const float> subaudible) {
  for (float sample : subaudible) fold_sample(detector, sample);
}

DcsReading finish_dcs_detector(DcsDetectorState& detector) {
  if (detector.chunk_slots >= MIN_TAIL_SLOTS) score_chunk(detector);
  DcsReading reading;
  if (detector.samples == 0.0 || !(detector.energy > 0.0)) return reading;
  for (std::size_t c = 0; c < CODE_COUNT; ++c) {
    const double template_energy = detector.samples * templates()[c].energy_per_bit;
    const double correlation = detector.scores[c] / std::sqrt(detector.energy * template_energy);
    if (correlation > reading.correlation) {
      reading.tone = Tone{ToneKind::DCS, 0.0, DCS_CODES[c], false};
      reading.correlation = correlation;
    }
  }
  return reading;
}

}  // namespace kdsp
