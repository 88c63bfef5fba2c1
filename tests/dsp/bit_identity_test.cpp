// The optimised signal path against the straightforward form kept in
// reference_signal.cpp: every output bit must agree, on random, tonal and
// extreme inputs (largest magnitudes, subnormals, signed zeros, silence), at
// every FFT size and across the whole range of offsets and shifts.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "dsp/channel_decimator.h"
#include "dsp/channel_filter.h"
#include "dsp/detail.h"
#include "dsp/fft.h"
#include "dsp/fm_demod.h"
#include "dsp/freq_shift.h"
#include "dsp/voice_band.h"
#include "reference_signal.h"
#include "signal_test_util.h"

namespace kdsp {

namespace {

using dsp_test::AudioBufferPtr;

// Every case runs twice: with the AVX2 lanes (where the processor has them)
// and with the SSE2 lanes forced, so that both widths are held to the same
// bits on any machine.
class LaneWidth : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override { detail::allow_avx2_lanes(GetParam()); }
  void TearDown() override { detail::allow_avx2_lanes(true); }
};
std::string lane_name(const testing::TestParamInfo<bool>& info) { return info.param ? "Avx2" : "Sse2"; }

// Index of the first element whose bits differ, or `count` when all agree.
template <typename T>
std::uint64_t first_difference(const T* a, const T* b, std::uint64_t count) {
  for (std::uint64_t i = 0; i < count; ++i) {
    if (std::memcmp(a + i, b + i, sizeof(T)) != 0) return i;
  }
  return count;
}

enum class Kind { RANDOM, TONAL, EXTREME, SILENT };

// `count` float values of the given kind. Extreme values cycle through the
// largest finite magnitudes, values near 1e38, subnormals and zeros of both
// signs, so that every path sees them at every position.
std::vector<float> make_values(std::uint64_t count, Kind kind, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  const float extremes[] = {std::numeric_limits<float>::max(),
                            -1e38f,
                            std::numeric_limits<float>::denorm_min(),
                            -0.0f,
                            0.0f,
                            -std::numeric_limits<float>::max(),
                            1e38f,
                            -std::numeric_limits<float>::denorm_min() * 12345.0f};
  std::vector<float> x(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    switch (kind) {
      case Kind::RANDOM: x[i] = uniform(rng); break;
      case Kind::TONAL: x[i] = static_cast<float>(0.7 * std::cos(0.0123 * static_cast<double>(i * i % 100003))); break;
      case Kind::EXTREME: x[i] = extremes[(i + rng() % 3) % std::size(extremes)]; break;
      case Kind::SILENT: x[i] = (i % 2 == 0) ? 0.0f : -0.0f; break;
    }
  }
  return x;
}

using FftBitIdentity = LaneWidth;
using FmDemodulateBitIdentity = LaneWidth;
using FrequencyShiftBitIdentity = LaneWidth;
using VoiceBandBitIdentity = LaneWidth;

// ---- FFT ----------------------------------------------------------------------

void expect_fft_matches(std::uint64_t n, Kind kind, std::uint64_t seed) {
  const std::vector<float> values = make_values(2 * n, kind, seed);
  std::vector<Complex> input(n);
  for (std::uint64_t i = 0; i < n; ++i) input[i] = Complex{values[2 * i], values[2 * i + 1]};
  for (bool inverse : {false, true}) {
    std::vector<Complex> expected = input;
    std::vector<Complex> actual = input;
    reference::reference_fft_radix2(expected.data(), n, inverse);
    fft_radix2(actual.data(), n, inverse);
    EXPECT_EQ(first_difference(actual.data(), expected.data(), n), n) << "n " << n << " inverse " << inverse;
  }
}

TEST_P(FftBitIdentity, EverySizeFromTwoToTwoToTheSixteen) {
  for (std::uint64_t n = 2; n <= (1u << 16); n *= 2) {
    expect_fft_matches(n, Kind::RANDOM, n);
    expect_fft_matches(n, Kind::EXTREME, n + 1);
  }
  expect_fft_matches(64, Kind::SILENT, 0);
  expect_fft_matches(4096, Kind::TONAL, 0);
}

TEST_P(FftBitIdentity, LargeSizesUpToTwoToTheTwentyOne) {
  for (std::uint64_t n = 1u << 17; n <= (1u << 21); n *= 2) expect_fft_matches(n, Kind::RANDOM, n);
}

// The forward transform straight from a padded real signal, against placing
// the signal in a zeroed array and transforming that.
void expect_padded_fft_matches(std::uint64_t n, std::uint64_t count, std::uint64_t offset, Kind kind) {
  const std::vector<float> x = make_values(count, kind, n + count + offset);
  std::vector<Complex> expected(n, Complex{0.0, 0.0});
  for (std::uint64_t i = 0; i < count; ++i) expected[offset + i] = Complex{x[i], 0.0};
  reference::reference_fft_radix2(expected.data(), n, false);
  std::vector<Complex> actual(n, Complex{-1.0, 7.0});  // stale contents must not show through
  fft_radix2_padded_real(x.data(), count, offset, actual.data(), n);
  EXPECT_EQ(first_difference(actual.data(), expected.data(), n), n)
      << "n " << n << " count " << count << " offset " << offset;
}

TEST_P(FftBitIdentity, PaddedRealSignalsAtEverySizeAndPlace) {
  for (std::uint64_t n = 1; n <= (1u << 21); n *= 2) {
    expect_padded_fft_matches(n, n / 3, n / 5, Kind::RANDOM);      // zeros on both sides
    expect_padded_fft_matches(n, n - n / 4, n / 4, Kind::RANDOM);  // the signal runs to the end
    expect_padded_fft_matches(n, n, 0, Kind::EXTREME);
    expect_padded_fft_matches(n, 0, 0, Kind::RANDOM);
  }
  expect_padded_fft_matches(1u << 16, 17, 24000, Kind::SILENT);
}

// ---- Voice band ---------------------------------------------------------------

TEST(VoiceBandGainsBitIdentity, EveryBinAtEverySizeGetsTheGainOfItsFrequency) {
  // Gains found by runs of bins against the plain per-bin rule; the values
  // 1 and -0 show the gain and that a zero gain still multiplies.
  for (std::uint64_t n = 1; n <= (1u << 21); n *= 2) {
    std::vector<Complex> work(n, Complex{1.0, -0.0});
    detail::voice_band_apply_gains(work.data(), n);
    for (std::uint64_t i = 0; i < n; ++i) {
      const std::uint64_t k = i <= n / 2 ? i : n - i;
      const double g = detail::voice_band_gain((static_cast<double>(k) * 48000.0) / static_cast<double>(n));
      const Complex expected{1.0 * g, -0.0 * g};
      ASSERT_EQ(std::memcmp(&work[i], &expected, sizeof expected), 0) << "n " << n << " bin " << i;
    }
  }
}

TEST_P(VoiceBandBitIdentity, ShortAndOddLengthsOfEveryKind) {
  for (std::uint64_t count : {0u, 1u, 5u, 4095u, 4097u, 8193u, 17537u, 65536u}) {
    for (Kind kind : {Kind::RANDOM, Kind::TONAL, Kind::EXTREME, Kind::SILENT}) {
      std::vector<float> expected = make_values(count, kind, count);
      std::vector<float> actual = expected;
      ASSERT_TRUE(reference::reference_voice_band_filter(expected));
      ASSERT_EQ(voice_band_filter(actual.data(), count), 0);
      EXPECT_EQ(first_difference(actual.data(), expected.data(), count), count) << "count " << count;
    }
  }
}

TEST_P(VoiceBandBitIdentity, ThirtySecondsInTheLargestWorkArray) {
  const std::uint64_t count = 30 * 48000;  // 2^21 elements with the padding
  std::vector<float> expected = make_values(count, Kind::RANDOM, 30);
  std::vector<float> actual = expected;
  ASSERT_TRUE(reference::reference_voice_band_filter(expected));
  ASSERT_EQ(voice_band_filter(actual.data(), count), 0);
  EXPECT_EQ(first_difference(actual.data(), expected.data(), count), count);
}

// ---- FM demodulation ----------------------------------------------------------

void expect_demodulation_matches(const std::vector<float>& iq, std::int32_t offset_hz) {
  const std::uint64_t pair_count = iq.size() / 2;
  const std::vector<float> expected = reference::reference_fm_demodulate(iq.data(), pair_count, offset_hz);
  AudioBuffer* result = nullptr;
  ASSERT_EQ(fm_demodulate(iq.data(), pair_count, offset_hz, &result), 0);
  const AudioBufferPtr actual(result);
  ASSERT_EQ(actual->count, expected.size());
  EXPECT_EQ(first_difference(actual->samples, expected.data(), expected.size()), expected.size())
      << "pairs " << pair_count << " offset " << offset_hz;
}

TEST_P(FmDemodulateBitIdentity, LengthsAroundEveryEdgeOfTheFilterAndTheOscillator) {
  // 5..10: the shortest captures; 4095..4097 and 8191..8193: the phase
  // reductions; 12347 is not a multiple of five; 20011 needs several blocks;
  // 10239 .. 10245 and 20480 end just before, at and after a block boundary,
  // where the discriminator carries the last baseband value to the next block.
  for (std::uint64_t pairs : {5u,    6u,    7u,    8u,    9u,     10u,    162u,   163u,   4095u,  4096u,
                              4097u, 8191u, 8192u, 8193u, 10239u, 10240u, 10245u, 12347u, 20011u, 20480u}) {
    expect_demodulation_matches(make_values(2 * pairs, Kind::RANDOM, pairs), 25000);
  }
}

TEST_P(FmDemodulateBitIdentity, OffsetsAcrossTheWholeRange) {
  const std::vector<float> noise = make_values(2 * 12347, Kind::RANDOM, 3);
  for (std::int32_t offset_hz : {-100000, -99999, -25000, -1, 0, 1, 10000, 25000, 99999, 100000}) {
    expect_demodulation_matches(noise, offset_hz);
  }
  std::mt19937 rng(11);
  std::uniform_int_distribution<std::int32_t> any_offset(-100000, 100000);
  for (int i = 0; i < 6; ++i) expect_demodulation_matches(noise, any_offset(rng));
}

TEST_P(FmDemodulateBitIdentity, TonalExtremeAndSilentCaptures) {
  expect_demodulation_matches(dsp_test::make_fm_capture(60013, 25000.0, 3000.0, 1000.0), 25000);
  for (Kind kind : {Kind::EXTREME, Kind::SILENT}) {
    for (std::uint64_t pairs : {7u, 4097u, 30001u}) {
      expect_demodulation_matches(make_values(2 * pairs, kind, pairs), -60000);
    }
  }
}

TEST_P(FmDemodulateBitIdentity, OffTuneCarriersLeaveALargeMeanToRemove) {
  // A carrier 2 kHz or 4.5 kHz beside the channel reads as a steady phase
  // step: a mean far from zero, summed across many discriminator blocks
  // (the sum is taken as each block comes) and then subtracted.
  expect_demodulation_matches(dsp_test::make_fm_capture(100003, 27000.0, 1500.0, 700.0), 25000);
  expect_demodulation_matches(dsp_test::make_fm_capture(61447, -4500.0), 0);
}

TEST_P(FmDemodulateBitIdentity, MixerAndFilterGiveTheReferenceBaseband) {
  // The baseband itself, before the discriminator can hide a difference:
  // every length class, with outputs at both edges, in one block or many.
  double taps[CHANNEL_FILTER_TAPS];
  design_channel_filter(taps);
  std::vector<double> window(DECIMATOR_WINDOW_DOUBLES);
  for (std::uint64_t pairs : {5u, 9u, 81u, 82u, 86u, 163u, 167u, 10239u, 10240u, 10241u, 10403u, 41011u}) {
    for (Kind kind : {Kind::RANDOM, Kind::EXTREME}) {
      const std::vector<float> iq = make_values(2 * pairs, kind, pairs);
      for (std::int32_t offset_hz : {-100000, 0, 31337}) {
        std::vector<float> mixed(2 * pairs);
        reference::reference_fm_mix_down(iq.data(), pairs, offset_hz, mixed.data());
        const std::uint64_t count = pairs / 5;
        std::vector<Complex> expected(count);
        std::vector<Complex> actual(count);
        reference::reference_fm_channel_decimate(mixed.data(), pairs, taps, expected.data());
        detail::mix_and_decimate(iq.data(), pairs, offset_hz, taps, window.data(), actual.data());
        EXPECT_EQ(first_difference(actual.data(), expected.data(), count), count)
            << "pairs " << pairs << " offset " << offset_hz;
      }
    }
  }
}

TEST_P(FmDemodulateBitIdentity, DiscriminatorAgreesWithItsReference) {
  const std::vector<float> iq = make_values(2 * 8193, Kind::RANDOM, 5);
  const std::uint64_t count = 8193 / 5;
  std::vector<Complex> baseband(count);
  for (std::uint64_t m = 0; m < count; ++m) baseband[m] = Complex{iq[2 * m], iq[2 * m + 1]};
  baseband[7] = Complex{0.0, -0.0};
  baseband[8] = Complex{-0.0, -0.0};
  std::vector<float> expected(count);
  std::vector<float> actual(count);
  reference::reference_fm_discriminate(baseband.data(), count, expected.data());
  detail::fm_discriminate(baseband.data(), count, actual.data());
  EXPECT_EQ(first_difference(actual.data(), expected.data(), count), count);
}

// ---- Frequency shift ----------------------------------------------------------

void expect_shift_matches(const std::vector<float>& in, std::uint32_t shift_hz) {
  const std::vector<float> expected = reference::reference_frequency_shift(in, shift_hz);
  AudioBuffer in_buffer{const_cast<float*>(in.data()), in.size(), AUDIO_SAMPLE_RATE};
  AudioBuffer* out = nullptr;
  ASSERT_EQ(frequency_shift(&in_buffer, shift_hz, &out), 0);
  const AudioBufferPtr actual(out);
  ASSERT_EQ(actual->count, in.size());
  EXPECT_EQ(first_difference(actual->samples, expected.data(), in.size()), in.size())
      << "count " << in.size() << " shift " << shift_hz;
}

TEST_P(FrequencyShiftBitIdentity, LengthsAroundTheOscillatorReductions) {
  for (std::uint64_t count : {1u, 2u, 5u, 10u, 4095u, 4096u, 4097u, 8191u, 8192u, 8193u, 12347u}) {
    expect_shift_matches(make_values(count, Kind::TONAL, count), 300);
  }
}

TEST_P(FrequencyShiftBitIdentity, ShiftsAcrossTheWholeRangeAndEveryKindOfInput) {
  const std::vector<float> noise = make_values(9001, Kind::RANDOM, 9);
  for (std::uint32_t shift_hz : {0u, 1u, 300u, 2999u, 5000u, 9999u, 10000u}) expect_shift_matches(noise, shift_hz);
  std::mt19937 rng(13);
  std::uniform_int_distribution<std::uint32_t> any_shift(0, 10000);
  for (int i = 0; i < 4; ++i) expect_shift_matches(noise, any_shift(rng));
  for (Kind kind : {Kind::EXTREME, Kind::SILENT}) expect_shift_matches(make_values(8193, kind, 2), 700);
}

TEST_P(FrequencyShiftBitIdentity, MixDownAgreesWithItsReferenceAcrossStretchesAndReductions) {
  // Lengths around the oscillator's stretches (256) and reductions (4096),
  // with extreme values in the analytic signal.
  for (std::uint64_t count : {1u, 255u, 256u, 257u, 4095u, 4096u, 4097u, 9000u}) {
    const std::vector<float> values = make_values(2 * count, Kind::EXTREME, count);
    std::vector<Complex> analytic(count);
    for (std::uint64_t i = 0; i < count; ++i) analytic[i] = Complex{values[2 * i], values[2 * i + 1]};
    for (std::uint32_t shift_hz : {0u, 1u, 7777u, 10000u}) {
      std::vector<float> expected(count);
      std::vector<float> actual(count);
      reference::reference_shift_mix_down(analytic.data(), count, shift_hz, expected.data());
      detail::shift_mix_down(analytic.data(), count, shift_hz, actual.data());
      EXPECT_EQ(first_difference(actual.data(), expected.data(), count), count)
          << "count " << count << " shift " << shift_hz;
    }
  }
}

TEST_P(FrequencyShiftBitIdentity, ThirtySecondsInTheLargestWorkArray) {
  expect_shift_matches(make_values(30 * 48000, Kind::TONAL, 31), 2500);
}

INSTANTIATE_TEST_SUITE_P(Lanes, FftBitIdentity, testing::Bool(), lane_name);
INSTANTIATE_TEST_SUITE_P(Lanes, FmDemodulateBitIdentity, testing::Bool(), lane_name);
INSTANTIATE_TEST_SUITE_P(Lanes, FrequencyShiftBitIdentity, testing::Bool(), lane_name);
INSTANTIATE_TEST_SUITE_P(Lanes, VoiceBandBitIdentity, testing::Bool(), lane_name);

}  // namespace

}  // namespace kdsp
