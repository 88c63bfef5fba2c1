// Voice-band filter: the work-array size rule, the gain curve and what the
// filter does to tones across the band.
#include "dsp/voice_band.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/memory.h"
#include "dsp/detail.h"
#include "signal_test_util.h"

namespace kdsp {

namespace {

using dsp_test::make_tone;
using dsp_test::max_abs;
using dsp_test::tone_amplitude;

// One second at 48 kHz; measurements keep a quarter second away from both
// ends, where the abrupt start and stop of a test tone spread over the band.
constexpr std::uint64_t SIGNAL_COUNT = 48000;
constexpr std::uint64_t MEASURE_BEGIN = 12000;
constexpr std::uint64_t MEASURE_END = 36000;

std::vector<float> filtered_tone(double f_hz, double amplitude) {
  std::vector<float> x = make_tone(SIGNAL_COUNT, f_hz, amplitude);
  EXPECT_EQ(voice_band_filter(x.data(), x.size()), 0);
  return x;
}

TEST(FftSizeFor, RoundsSignalPlusPaddingUpToAPowerOfTwo) {
  std::uint64_t size = 0;
  ASSERT_EQ(fft_size_for(0, &size), 0);
  EXPECT_EQ(size, 65536u);  // never below 65536: 48000 padding alone needs it
  ASSERT_EQ(fft_size_for(17536, &size), 0);
  EXPECT_EQ(size, 65536u);  // 17536 + 48000 = 65536 exactly: equality accepted
  ASSERT_EQ(fft_size_for(17537, &size), 0);
  EXPECT_EQ(size, 131072u);
  ASSERT_EQ(fft_size_for(1440000, &size), 0);  // 30 s of audio
  EXPECT_EQ(size, 2097152u);
  ASSERT_EQ(fft_size_for((std::uint64_t{1} << 63) - FFT_PAD_TOTAL, &size), 0);
  EXPECT_EQ(size, std::uint64_t{1} << 63);  // the largest candidate
}

TEST(FftSizeFor, FailsWithoutTouchingTheSizeWhenNoPowerOfTwoIsLargeEnough) {
  std::uint64_t size = 12345;
  EXPECT_EQ(fft_size_for((std::uint64_t{1} << 63) - FFT_PAD_TOTAL + 1, &size), -1);
  EXPECT_EQ(fft_size_for(UINT64_MAX - FFT_PAD_TOTAL, &size), -1);
  EXPECT_EQ(fft_size_for(UINT64_MAX, &size), -1);  // count + 48000 would wrap
  EXPECT_EQ(size, 12345u);
}

TEST(VoiceBandGain, PassesThreeHundredToThirtyThreeHundredWithCosineEdges) {
  EXPECT_EQ(detail::voice_band_gain(0.0), 0.0);
  EXPECT_EQ(detail::voice_band_gain(200.0), 0.0);
  EXPECT_NEAR(detail::voice_band_gain(250.0), 0.5, 1e-15);
  EXPECT_EQ(detail::voice_band_gain(300.0), 1.0);
  EXPECT_EQ(detail::voice_band_gain(1000.0), 1.0);
  EXPECT_EQ(detail::voice_band_gain(3300.0), 1.0);
  EXPECT_NEAR(detail::voice_band_gain(3350.0), 0.5, 1e-15);
  EXPECT_EQ(detail::voice_band_gain(3400.0), 0.0);
  EXPECT_EQ(detail::voice_band_gain(24000.0), 0.0);
  // Continuous at every edge and rising / falling monotonically in between.
  EXPECT_LT(detail::voice_band_gain(200.001), 1e-8);
  EXPECT_GT(detail::voice_band_gain(299.999), 1.0 - 1e-8);
  EXPECT_GT(detail::voice_band_gain(3300.001), 1.0 - 1e-8);
  EXPECT_LT(detail::voice_band_gain(3399.999), 1e-8);
  for (double f = 200.5; f < 300.0; f += 1.0) EXPECT_LT(detail::voice_band_gain(f), detail::voice_band_gain(f + 0.5));
  for (double f = 3300.5; f < 3400.0; f += 1.0) EXPECT_GT(detail::voice_band_gain(f), detail::voice_band_gain(f + 0.5));
}

TEST(VoiceBandFilter, KeepsAVoiceToneUnchanged) {
  const std::vector<float> original = make_tone(SIGNAL_COUNT, 1000.0, 0.5);
  const std::vector<float> x = filtered_tone(1000.0, 0.5);
  EXPECT_NEAR(tone_amplitude(x.data(), MEASURE_BEGIN, MEASURE_END, 1000.0), 0.5, 1e-5);
  for (std::uint64_t i = MEASURE_BEGIN; i < MEASURE_END; ++i) ASSERT_NEAR(x[i], original[i], 2e-5) << i;
}

TEST(VoiceBandFilter, HalvesTonesInTheMiddleOfEitherTransition) {
  for (double f_hz : {250.0, 3350.0}) {
    const std::vector<float> x = filtered_tone(f_hz, 0.5);
    EXPECT_NEAR(tone_amplitude(x.data(), MEASURE_BEGIN, MEASURE_END, f_hz), 0.25, 2e-3) << f_hz << " Hz";
  }
}

TEST(VoiceBandFilter, RemovesDcAndTonesOutsideTheBand) {
  for (double f_hz : {0.0, 100.0, 5000.0, 20000.0}) {
    const std::vector<float> x = filtered_tone(f_hz, 0.5);
    EXPECT_LT(max_abs(x.data(), MEASURE_BEGIN, MEASURE_END), 1e-4) << f_hz << " Hz";
  }
}

TEST(VoiceBandFilter, SilenceStaysExactlySilent) {
  std::vector<float> x(1000, 0.0f);
  ASSERT_EQ(voice_band_filter(x.data(), x.size()), 0);
  for (float v : x) ASSERT_EQ(v, 0.0f);
}

TEST(VoiceBandFilter, EmptySignalSucceedsAndWritesNothing) {
  float sentinel = 42.0f;
  EXPECT_EQ(voice_band_filter(&sentinel, 0), 0);
  EXPECT_EQ(sentinel, 42.0f);
}

TEST(VoiceBandFilterFailure, NoWorkArraySizeLeavesSamplesUntouched) {
  float sentinel = 42.0f;
  mem_fail_request(0);
  // Never read: the size rule fails before the samples are looked at.
  EXPECT_EQ(voice_band_filter(&sentinel, UINT64_MAX - 10), -1);
  EXPECT_EQ(mem_request_count(), 0u);
  EXPECT_EQ(sentinel, 42.0f);
}

TEST(VoiceBandFilterFailure, AllocationFailureLeavesSamplesUntouched) {
  std::vector<float> x = make_tone(100, 1000.0, 0.5);
  const std::vector<float> before = x;
  mem_fail_request(1);
  EXPECT_EQ(voice_band_filter(x.data(), x.size()), -1);
  EXPECT_EQ(mem_request_count(), 1u);
  mem_fail_request(0);
  EXPECT_EQ(x, before);
}

}  // namespace

}  // namespace kdsp
