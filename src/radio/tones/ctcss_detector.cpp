#include "radio/tones/ctcss_detector.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "base/numbers.h"
#include "radio/base/fft_plan.h"
#include "radio/meta/tone_table.h"
#include "radio/tones/subaudible_demod.h"

namespace kdsp {

namespace {

constexpr auto SEGMENT_SAMPLES = static_cast<std::size_t>(CTCSS_SEGMENT_S * SUBAUDIBLE_RATE);
constexpr std::size_t HOP_SAMPLES = SEGMENT_SAMPLES / 2;
// Zero-padded to bins of 0.3 Hz, so that a tone's peak is read within a
// small part of its width wherever it falls. (A complex transform of a real
// segment: a second of band costs one of them.)
constexpr std::size_t TRANSFORM_SIZE = 4096;
constexpr double BIN_HZ = SUBAUDIBLE_RATE / TRANSFORM_SIZE;
static_assert(SEGMENT_SAMPLES <= TRANSFORM_SIZE);
// The bins read as the noise around a tone: within the span and outside the
// guard, which holds the main lobe of the shortest segment's window.
constexpr double NOISE_SPAN_HZ = 12.0;
constexpr double NOISE_GUARD_HZ = 3.0;
// A transmission's last samples make a segment of their own when they add
// at least this much to what the segments before them covered (or, with no
// segment before, when there are at least this many).
constexpr std::size_t MIN_TAIL_SAMPLES = SEGMENT_SAMPLES / 4;

// What a tone alone on a silent band reads as its ratio.
constexpr double CTCSS_RATIO_CEILING_DB = 99.0;

std::size_t bin_of(double hz) { return static_cast<std::size_t>(std::lround(hz / BIN_HZ)); }

}  // namespace

struct CtcssDetectorState {
  std::vector<float> pending;  // samples not yet past a whole segment
  ForwardFft transform;
  std::vector<double> power;  // summed over the segments, up to the highest bin read
  std::vector<double> scratch;
  std::size_t segments = 0;
  // What a sine of amplitude 1 centred on a bin adds to its power, summed.
  double unit_power = 0.0;
  // What a sine of amplitude 1 adds to the bins of the band, summed.
  double unit_band_power = 0.0;
};

void CtcssDetectorRelease::operator()(CtcssDetectorState* state) const { delete state; }

int create_ctcss_detector(CtcssDetector* detector, Failure* failure) {
  CtcssDetector made(new CtcssDetectorState);
  if (made->transform.make(TRANSFORM_SIZE) != 0) {
    *failure = Failure{"the CTCSS detector's transform could not be made (out of memory)"};
    return -1;
  }
  made->power.assign(bin_of(CTCSS_TONES_HZ.back() + NOISE_SPAN_HZ) + 1, 0.0);
  *detector = std::move(made);
  return 0;
}

namespace {

// Adds the power spectrum of samples[0 .. count-1] under a Hann window of
// that length.
void add_segment(CtcssDetectorState& d, const float* samples, std::size_t count) {
  std::complex<float>* frame = d.transform.input();
  std::fill(frame, frame + TRANSFORM_SIZE, std::complex<float>{});
  double window_sum = 0.0;
  double window_square_sum = 0.0;
  for (std::size_t n = 0; n < count; ++n) {
    const double hann = 0.5 - 0.5 * std::cos(TWO_PI * (static_cast<double>(n) + 0.5) / static_cast<double>(count));
    frame[n] = static_cast<float>(hann) * samples[n];
    window_sum += hann;
    window_square_sum += hann * hann;
  }
  d.unit_power += window_sum * window_sum / 4.0;
  d.unit_band_power += TRANSFORM_SIZE * window_square_sum / 4.0;
  d.transform.execute();
  const std::complex<float>* bins = d.transform.output();
  for (std::size_t k = 0; k < d.power.size(); ++k) d.power[k] += std::norm(bins[k]);
  ++d.segments;
}

double tone_peak(const CtcssDetectorState& d, double tone_hz) {
  const double tolerance_hz = std::max(CTCSS_MIN_TOLERANCE_HZ, CTCSS_TOLERANCE * tone_hz);
  double peak = 0.0;
  for (std::size_t k = bin_of(tone_hz - tolerance_hz); k <= bin_of(tone_hz + tolerance_hz); ++k) {
    peak = std::max(peak, d.power[k]);
  }
  return peak;
}

// The median of the bins around `tone_hz`, outside the guard.
double noise_around(CtcssDetectorState& d, double tone_hz) {
  d.scratch.clear();
  for (std::size_t k = bin_of(tone_hz - NOISE_SPAN_HZ); k <= bin_of(tone_hz + NOISE_SPAN_HZ); ++k) {
    if (std::fabs(static_cast<double>(k) * BIN_HZ - tone_hz) > NOISE_GUARD_HZ) d.scratch.push_back(d.power[k]);
  }
  const auto middle = d.scratch.begin() + static_cast<std::ptrdiff_t>(d.scratch.size() / 2);
  std::nth_element(d.scratch.begin(), middle, d.scratch.end());
  return *middle;
}

// The power of the bins from the lowest to the highest one read, in the
// units of tone_peak over unit_power: a sine's squared amplitude.
double band_square_amplitude(const CtcssDetectorState& d) {
  double band = 0.0;
  for (std::size_t k = bin_of(CTCSS_TONES_HZ.front() - NOISE_SPAN_HZ); k < d.power.size(); ++k) band += d.power[k];
  return band / d.unit_band_power;
}

}  // namespace

void feed_ctcss_detector(CtcssDetectorState& detector, std::span<const float> subaudible) {
  detector.pending.insert(detector.pending.end(), subaudible.begin(), subaudible.end());
  std::size_t start = 0;
  while (detector.pending.size() - start >= SEGMENT_SAMPLES) {
    add_segment(detector, detector.pending.data() + start, SEGMENT_SAMPLES);
    start += HOP_SAMPLES;
  }
  detector.pending.erase(detector.pending.begin(), detector.pending.begin() + static_cast<std::ptrdiff_t>(start));
}

CtcssReading finish_ctcss_detector(CtcssDetectorState& detector) {
  // After a segment, pending holds the half it shares with the next one.
  const std::size_t covered = detector.segments > 0 ? SEGMENT_SAMPLES - HOP_SAMPLES : 0;
  if (detector.pending.size() >= covered + MIN_TAIL_SAMPLES) {
    add_segment(detector, detector.pending.data(), detector.pending.size());
  }
  detector.pending.clear();
  CtcssReading reading;
  if (detector.segments == 0) return reading;
  double loudest = 0.0;
  for (double tone_hz : CTCSS_TONES_HZ) {
    const double peak = tone_peak(detector, tone_hz);
    if (peak > loudest) {
      loudest = peak;
      reading.tone_hz = tone_hz;
    }
  }
  if (!(loudest > 0.0)) return reading;
  reading.deviation_hz = std::sqrt(loudest / detector.unit_power);
  reading.band_fraction = loudest / detector.unit_power / band_square_amplitude(detector);
  const double noise = noise_around(detector, reading.tone_hz);
  reading.ratio_db = noise > 0.0 ? 10.0 * std::log10(loudest / noise) : CTCSS_RATIO_CEILING_DB;
  return reading;
}

}  // namespace kdsp
