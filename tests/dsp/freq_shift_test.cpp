// Audio frequency shifter: where tones end up, phase continuity across the
// oscillator's reductions, and every failure path.
#include "dsp/freq_shift.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "base/memory.h"
#include "dsp/detail.h"
#include "dsp/voice_band.h"
#include "signal_test_util.h"

namespace kdsp {

namespace {

using dsp_test::AudioBufferPtr;
using dsp_test::make_tone;
using dsp_test::max_abs;
using dsp_test::tone_amplitude;

constexpr std::uint64_t SIGNAL_COUNT = 48000;   // one second
constexpr std::uint64_t MEASURE_BEGIN = 12000;  // measure away from both ends
constexpr std::uint64_t MEASURE_END = 36000;

AudioBufferPtr shift(std::vector<float>& samples, std::uint32_t shift_hz) {
  const AudioBuffer in{samples.data(), samples.size(), AUDIO_SAMPLE_RATE};
  AudioBuffer* out = nullptr;
  EXPECT_EQ(frequency_shift(&in, shift_hz, &out), 0);
  return AudioBufferPtr(out);
}

TEST(FrequencyShift, MovesAToneDownByTheShift) {
  std::vector<float> tone = make_tone(SIGNAL_COUNT, 1000.0, 0.5);
  const AudioBufferPtr out = shift(tone, 300);
  ASSERT_EQ(out->count, SIGNAL_COUNT);
  EXPECT_EQ(out->sample_rate, 48000u);
  EXPECT_NEAR(tone_amplitude(out->samples, MEASURE_BEGIN, MEASURE_END, 700.0), 0.5, 1e-4);
  EXPECT_LT(tone_amplitude(out->samples, MEASURE_BEGIN, MEASURE_END, 1000.0), 1e-4);
  EXPECT_LT(tone_amplitude(out->samples, MEASURE_BEGIN, MEASURE_END, 1300.0), 1e-4);  // single sideband only
}

TEST(FrequencyShift, ToneShiftedBelowTheVoiceBandIsRemoved) {
  std::vector<float> tone = make_tone(SIGNAL_COUNT, 1000.0, 0.5);
  const AudioBufferPtr out = shift(tone, 900);  // lands at 100 Hz
  EXPECT_LT(max_abs(out->samples, MEASURE_BEGIN, MEASURE_END), 1e-4);
}

TEST(FrequencyShift, ToneBelowTheShiftComesOutMirrored) {
  std::vector<float> tone = make_tone(SIGNAL_COUNT, 1000.0, 0.5);
  const AudioBufferPtr out = shift(tone, 1500);  // 1000 - 1500 -> mirrored at 500
  EXPECT_NEAR(tone_amplitude(out->samples, MEASURE_BEGIN, MEASURE_END, 500.0), 0.5, 1e-4);
  EXPECT_LT(tone_amplitude(out->samples, MEASURE_BEGIN, MEASURE_END, 1000.0), 1e-4);
}

TEST(FrequencyShift, ZeroShiftIsTheVoiceBandOfTheInput) {
  std::vector<float> tone = make_tone(SIGNAL_COUNT, 1000.0, 0.3);
  for (std::uint64_t i = 0; i < SIGNAL_COUNT; ++i)
    tone[i] += static_cast<float>(0.2 * std::cos(TWO_PI * 5000.0 * static_cast<double>(i) / 48000.0));
  std::vector<float> expected = tone;
  ASSERT_EQ(voice_band_filter(expected.data(), expected.size()), 0);
  const AudioBufferPtr out = shift(tone, 0);
  for (std::uint64_t i = 0; i < SIGNAL_COUNT; ++i) ASSERT_NEAR(out->samples[i], expected[i], 1e-6) << i;
}

TEST(FrequencyShift, LeavesTheInputUnchanged) {
  std::vector<float> tone = make_tone(5000, 1000.0, 0.5);
  const std::vector<float> before = tone;
  const AudioBufferPtr out = shift(tone, 300);
  EXPECT_EQ(tone, before);
  EXPECT_NE(out->samples, tone.data());
}

TEST(FrequencyShift, OscillatorHasNoPhaseJumpAtItsReductions) {
  // Feed the oscillator stage the exact analytic signal of a 1000 Hz tone; the
  // product must be a clean 700 Hz cosine through samples 4096 and 8192, where
  // the phase is reduced by a whole multiple of 2 pi. The oscillator starts at
  // pi * 300 (a multiple of 2 pi), so no extra phase appears either.
  const std::uint64_t count = 12288;
  std::vector<Complex> analytic(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    const double w = TWO_PI * 1000.0 * static_cast<double>(i) / 48000.0;
    analytic[i] = Complex{std::cos(w), std::sin(w)};
  }
  std::vector<float> out(count);
  detail::shift_mix_down(analytic.data(), count, 300, out.data());
  for (std::uint64_t i = 0; i < count; ++i) {
    const double expected = std::cos(TWO_PI * 700.0 * static_cast<double>(i) / 48000.0);
    ASSERT_NEAR(out[i], expected, 1e-6) << i;
  }
}

TEST(FrequencyShift, WholeShifterIsContinuousAcrossSamples4096And8192) {
  // The 700 Hz result matches a continuous cosine sample by sample right
  // around the reductions. At 4096 samples from the tone's abrupt start its
  // transient is still about 1e-4; a phase jump of d radians would add an
  // error of about 0.5 * d.
  std::vector<float> tone = make_tone(16384, 1000.0, 0.5);
  const AudioBufferPtr out = shift(tone, 300);
  for (std::uint64_t centre : {4096u, 8192u}) {
    for (std::uint64_t i = centre - 8; i < centre + 8; ++i) {
      const double expected = 0.5 * std::cos(TWO_PI * 700.0 * static_cast<double>(i) / 48000.0);
      ASSERT_NEAR(out->samples[i], expected, 3e-4) << i;
    }
  }
}

TEST(FrequencyShift, AnalyticSpectrumKeepsOnlyNonNegativeFrequencies) {
  // A real cosine at bin 3 has energy in bins 3 and n - 3; the analytic form
  // carries all of it in bin 3, keeps DC and the Nyquist bin as they are.
  const std::uint64_t n = 16;
  std::vector<Complex> spectrum(n, Complex{1.0, -1.0});
  detail::shift_make_analytic(spectrum.data(), n);
  for (std::uint64_t i = 0; i < n; ++i) {
    const double expected = (i == 0 || i == n / 2) ? 1.0 : (i < n / 2 ? 2.0 : 0.0);
    EXPECT_EQ(spectrum[i].re, expected) << i;
    EXPECT_EQ(spectrum[i].im, -expected) << i;
  }
}

// ---- Failure paths ------------------------------------------------------------

class FrequencyShiftFailure : public ::testing::Test {
 protected:
  void SetUp() override { mem_fail_request(0); }
  void TearDown() override { mem_fail_request(0); }
  std::vector<float> samples_ = make_tone(1000, 1000.0, 0.5);
  AudioBuffer in_{samples_.data(), samples_.size(), AUDIO_SAMPLE_RATE};
  AudioBuffer sentinel_{};
  AudioBuffer* out_ = &sentinel_;

  void expect_refused(const AudioBuffer* in, std::uint32_t shift_hz, AudioBuffer** out) {
    mem_fail_request(0);
    EXPECT_EQ(frequency_shift(in, shift_hz, out), -1);
    EXPECT_EQ(mem_request_count(), 0u);
    EXPECT_EQ(out_, &sentinel_);
  }
};

TEST_F(FrequencyShiftFailure, GuardsRefuseBeforeAllocatingAnything) {
  expect_refused(nullptr, 300, &out_);
  expect_refused(&in_, 300, nullptr);
  AudioBuffer cd_rate{samples_.data(), samples_.size(), 44100};
  expect_refused(&cd_rate, 300, &out_);
  AudioBuffer empty{samples_.data(), 0, AUDIO_SAMPLE_RATE};
  expect_refused(&empty, 300, &out_);
  // Counts whose padded length does not fit 64 bits, or has no power of two
  // up to 2^63: refused before the (here fictitious) samples are read.
  AudioBuffer huge{samples_.data(), UINT64_MAX - 48000 + 1, AUDIO_SAMPLE_RATE};
  expect_refused(&huge, 300, &out_);
  huge.count = UINT64_MAX - 48000;
  expect_refused(&huge, 300, &out_);
  expect_refused(&in_, 10001, &out_);
  expect_refused(&in_, UINT32_MAX, &out_);
}

TEST_F(FrequencyShiftFailure, LimitsThemselvesAreAccepted) {
  for (std::uint32_t shift_hz : {0u, 10000u}) {
    AudioBuffer* out = nullptr;
    ASSERT_EQ(frequency_shift(&in_, shift_hz, &out), 0);
    free_audio_buffer(out);
  }
  AudioBuffer one{samples_.data(), 1, AUDIO_SAMPLE_RATE};
  AudioBuffer* out = nullptr;
  ASSERT_EQ(frequency_shift(&one, 300, &out), 0);
  EXPECT_EQ(out->count, 1u);
  free_audio_buffer(out);
}

TEST_F(FrequencyShiftFailure, EveryAllocationFailureReleasesWhatWasTaken) {
  // Requests in order: work array (shared by the shift and the voice band),
  // record (requested before the work array is tested), output samples.
  // Leaks are caught by the sanitizer build's leak checker.
  const std::vector<float> before = samples_;
  const std::uint64_t requests_made[] = {2, 2, 3};
  for (std::uint64_t k = 1; k <= 3; ++k) {
    mem_fail_request(k);
    EXPECT_EQ(frequency_shift(&in_, 300, &out_), -1) << "request " << k;
    EXPECT_EQ(mem_request_count(), requests_made[k - 1]) << "request " << k;
    EXPECT_EQ(out_, &sentinel_) << "request " << k;
  }
  EXPECT_EQ(samples_, before);
  mem_fail_request(4);
  AudioBuffer* out = nullptr;
  ASSERT_EQ(frequency_shift(&in_, 300, &out), 0);
  EXPECT_EQ(mem_request_count(), 3u);
  free_audio_buffer(out);
}

}  // namespace

}  // namespace kdsp
