// FM demodulation chain: what each stage does to signals of known frequency,
// the length and edge rules, and every failure path.
#include "dsp/fm_demod.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "base/memory.h"
#include "dsp/channel_decimator.h"
#include "dsp/channel_filter.h"
#include "dsp/detail.h"
#include "reference_signal.h"
#include "signal_test_util.h"

namespace kdsp {

namespace {

using dsp_test::AudioBufferPtr;
using dsp_test::make_fm_capture;
using dsp_test::max_abs;
using dsp_test::rms;
using dsp_test::tone_amplitude;

// The chain up to and including the discriminator (before DC removal).
std::vector<float> discriminator_output(const std::vector<float>& iq, std::int32_t offset_hz) {
  const std::uint64_t pair_count = iq.size() / 2;
  const std::uint64_t audio_count = pair_count / DECIMATION_FACTOR;
  double taps[CHANNEL_FILTER_TAPS];
  design_channel_filter(taps);
  std::vector<double> window(DECIMATOR_WINDOW_DOUBLES);
  std::vector<Complex> baseband(audio_count);
  detail::mix_and_decimate(iq.data(), pair_count, offset_hz, taps, window.data(), baseband.data());
  std::vector<float> audio(audio_count, -1.0f);
  detail::fm_discriminate(baseband.data(), audio_count, audio.data());
  return audio;
}

AudioBufferPtr demodulate(const std::vector<float>& iq, std::int32_t offset_hz) {
  AudioBuffer* result = nullptr;
  EXPECT_EQ(fm_demodulate(iq.data(), iq.size() / 2, offset_hz, &result), 0);
  return AudioBufferPtr(result);
}

// Outputs whose 163-tap window lies wholly inside a capture of pair_count pairs.
bool full_window(std::uint64_t k, std::uint64_t pair_count) { return 5 * k >= 81 && 5 * k + 81 < pair_count; }

// ---- Mixer ----------------------------------------------------------------
// The library mixes inside the channel filter's window; the mixer's own
// output is looked at in the reference form, which bit_identity_test ties to
// the library.

TEST(FmMixer, ZeroOffsetPassesTheCaptureThrough) {
  const std::vector<float> iq = make_fm_capture(5000, 3000.0, 1500.0);
  std::vector<float> mixed(iq.size());
  reference::reference_fm_mix_down(iq.data(), 5000, 0, mixed.data());
  for (std::size_t i = 0; i < iq.size(); ++i) ASSERT_EQ(mixed[i], iq[i]) << i;
}

TEST(FmMixer, ChannelAtTheOffsetBecomesAConstant) {
  // A carrier exactly at the offset is moved to 0 Hz: every mixed pair equals
  // the first one, up to float rounding, across the phase reductions at 4096, 8192.
  for (std::int32_t offset_hz : {25000, -77777, 100000}) {
    const std::vector<float> iq = make_fm_capture(10000, offset_hz);
    std::vector<float> mixed(iq.size());
    reference::reference_fm_mix_down(iq.data(), 10000, offset_hz, mixed.data());
    for (std::uint64_t n = 0; n < 10000; ++n) {
      ASSERT_NEAR(mixed[2 * n], 0.5f, 2e-6) << "offset " << offset_hz << " pair " << n;
      ASSERT_NEAR(mixed[2 * n + 1], 0.0f, 2e-6) << "offset " << offset_hz << " pair " << n;
    }
  }
}

TEST(FmMixer, PhaseReductionFirstTouchesPair4096) {
  // With 4096 pairs no reduction affects any pair; with 4097 only the last
  // pair is mixed with a reduced phase, and it continues the rotation smoothly.
  const std::int32_t offset_hz = 77777;
  const std::vector<float> iq = make_fm_capture(4097, 0.0);  // constant (0.5, 0)
  std::vector<float> short_mix(2 * 4096);
  std::vector<float> long_mix(2 * 4097);
  reference::reference_fm_mix_down(iq.data(), 4096, offset_hz, short_mix.data());
  reference::reference_fm_mix_down(iq.data(), 4097, offset_hz, long_mix.data());
  for (std::size_t i = 0; i < short_mix.size(); ++i) ASSERT_EQ(long_mix[i], short_mix[i]) << i;
  const double exact_phase = -TWO_PI * offset_hz * 4096.0 / 240000.0;
  EXPECT_NEAR(long_mix[2 * 4096], 0.5 * std::cos(exact_phase), 1e-6);
  EXPECT_NEAR(long_mix[2 * 4096 + 1], 0.5 * std::sin(exact_phase), 1e-6);
}

// ---- Discriminator ----------------------------------------------------------

TEST(FmDiscriminator, ToneAboveTheChannelReadsAsPlusPointTwo) {
  // +1 kHz from the channel centre is a fifth of the 5 kHz full deviation.
  const std::uint64_t pair_count = 24000;  // 0.1 s
  for (std::int32_t offset_hz : {25000, -40000, 0}) {
    for (double delta_hz : {+1000.0, -1000.0}) {
      const std::vector<float> iq = make_fm_capture(pair_count, offset_hz + delta_hz);
      const std::vector<float> audio = discriminator_output(iq, offset_hz);
      EXPECT_EQ(audio[0], 0.0f);
      for (std::uint64_t m = 1; m < audio.size(); ++m) {
        if (!full_window(m, pair_count) || !full_window(m - 1, pair_count)) continue;
        ASSERT_NEAR(audio[m], delta_hz / 5000.0, 1e-6) << "offset " << offset_hz << " sample " << m;
      }
    }
  }
}

TEST(FmDiscriminator, ConstantCaptureGivesExactlyZeroWhereWindowsAreFull) {
  const std::uint64_t pair_count = 2000;
  std::vector<float> iq(2 * pair_count);
  for (std::uint64_t n = 0; n < pair_count; ++n) {
    iq[2 * n] = 0.3f;
    iq[2 * n + 1] = -0.7f;
  }
  const std::vector<float> audio = discriminator_output(iq, 0);
  for (std::uint64_t m = 1; m < audio.size(); ++m) {
    if (full_window(m, pair_count) && full_window(m - 1, pair_count)) {
      ASSERT_EQ(audio[m], 0.0f) << m;
    } else {
      ASSERT_LT(std::fabs(audio[m]), 1e-12f) << m;  // truncated windows: close to 0
    }
  }
}

TEST(FmDiscriminator, OutputIsBoundedByHalfASamplingRateOfPhase) {
  // Any phase step lies in [-pi, pi]: the output never exceeds 4.8.
  std::vector<float> iq(2 * 5000);
  std::uint64_t state = 88172645463325252u;
  for (float& v : iq) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    v = static_cast<float>(static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5);
  }
  const std::vector<float> audio = discriminator_output(iq, 12345);
  EXPECT_LE(max_abs(audio.data(), 0, audio.size()), 4.8);
  EXPECT_GT(max_abs(audio.data(), 0, audio.size()), 1.0);  // noise does reach large steps
}

// ---- Whole chain --------------------------------------------------------------

TEST(FmDemodulate, OutputHasOneSamplePerFivePairsAt48kHz) {
  for (std::uint64_t pair_count : {5u, 6u, 7u, 8u, 9u, 10u, 1000u, 1004u}) {
    const std::vector<float> iq = make_fm_capture(pair_count, 1000.0);
    const AudioBufferPtr audio = demodulate(iq, 0);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->count, pair_count / 5) << pair_count;
    EXPECT_EQ(audio->sample_rate, 48000u);
  }
}

TEST(FmDemodulate, CapturesShorterThanTenPairsGiveOneSilentSample) {
  for (std::uint64_t pair_count = 5; pair_count <= 9; ++pair_count) {
    const std::vector<float> iq = make_fm_capture(pair_count, 7000.0);
    const AudioBufferPtr audio = demodulate(iq, 0);
    ASSERT_EQ(audio->count, 1u);
    EXPECT_EQ(audio->samples[0], 0.0f);
  }
}

TEST(FmDemodulate, SteadyCarrierOffTheChannelCentreLeavesNoAudio) {
  // The +1 kHz carrier reads as a constant 0.2, which DC removal takes away.
  const std::vector<float> iq = make_fm_capture(240000, 26000.0);
  const AudioBufferPtr audio = demodulate(iq, 25000);
  EXPECT_LT(rms(audio->samples, 12000, 36000), 1e-4);
}

// The discriminator measures the phase step over one 48 kHz sample, which
// is the instantaneous frequency averaged over that sample: a tone of f_hz in
// the audio comes out scaled by sin(x) / x with x = pi f_hz / 48000 (0.99929
// at 1 kHz).
double discriminator_droop(double f_hz) {
  const double x = PI * f_hz / 48000.0;
  return std::sin(x) / x;
}

TEST(FmDemodulate, FrequencyModulatedToneComesBackAtItsFrequencyAndLevel) {
  // 1 kHz audio at 2.5 kHz peak deviation must come back as a 1 kHz tone of
  // amplitude 2.5 / 5 = 0.5 (less the droop), without harmonics, at any
  // channel offset. Measured: within 1.5e-5 of that amplitude.
  const double expected = 0.5 * discriminator_droop(1000.0);
  for (std::int32_t offset_hz : {25000, -60000, 100000}) {
    const std::vector<float> iq = make_fm_capture(240000, offset_hz, 2500.0, 1000.0);
    const AudioBufferPtr audio = demodulate(iq, offset_hz);
    ASSERT_EQ(audio->count, 48000u);
    EXPECT_NEAR(tone_amplitude(audio->samples, 12000, 36000, 1000.0), expected, 1e-4) << offset_hz;
    EXPECT_LT(tone_amplitude(audio->samples, 12000, 36000, 2000.0), 1e-3) << offset_hz;
    EXPECT_LT(tone_amplitude(audio->samples, 12000, 36000, 3000.0), 1e-3) << offset_hz;
  }
}

TEST(FmDemodulate, ModulationOnAnotherChannelIsNotHeard) {
  // Only the channel at the offset is heard: an unmodulated carrier there and
  // an equally strong 1 kHz-modulated neighbour 40 kHz away (far beyond the
  // 13.5 kHz channel filter) give nearly silent audio.
  const std::vector<float> wanted = make_fm_capture(96000, 20000.0);
  const std::vector<float> other = make_fm_capture(96000, 60000.0, 2500.0, 1000.0);
  std::vector<float> iq(wanted.size());
  for (std::size_t i = 0; i < iq.size(); ++i) iq[i] = wanted[i] + other[i];
  const AudioBufferPtr audio = demodulate(iq, 20000);
  EXPECT_LT(tone_amplitude(audio->samples, 4800, 14400, 1000.0), 1e-3);

  const AudioBufferPtr neighbour = demodulate(iq, 60000);  // tuned to it, it is heard
  EXPECT_NEAR(tone_amplitude(neighbour->samples, 4800, 14400, 1000.0), 0.5 * discriminator_droop(1000.0), 1e-4);
}

// ---- Failure paths ------------------------------------------------------------

class FmDemodulateFailure : public ::testing::Test {
 protected:
  void SetUp() override { mem_fail_request(0); }
  void TearDown() override { mem_fail_request(0); }
  std::vector<float> iq_ = make_fm_capture(1000, 1000.0);
  AudioBuffer sentinel_{};
  AudioBuffer* result_ = &sentinel_;

  // Expects -1 with nothing requested from the allocator and result untouched.
  void expect_refused(const float* iq, std::uint64_t pair_count, std::int32_t offset_hz, AudioBuffer** result) {
    mem_fail_request(0);
    EXPECT_EQ(fm_demodulate(iq, pair_count, offset_hz, result), -1);
    EXPECT_EQ(mem_request_count(), 0u);
    EXPECT_EQ(result_, &sentinel_);
  }
};

TEST_F(FmDemodulateFailure, GuardsRefuseBeforeAllocatingAnything) {
  expect_refused(nullptr, 1000, 0, &result_);
  expect_refused(iq_.data(), 1000, 0, nullptr);
  expect_refused(iq_.data(), 1000, -100001, &result_);
  expect_refused(iq_.data(), 1000, 100001, &result_);
  expect_refused(iq_.data(), 1000, INT32_MIN, &result_);
  for (std::uint64_t pair_count = 0; pair_count <= 4; ++pair_count) {
    expect_refused(iq_.data(), pair_count, 0, &result_);
  }
  expect_refused(iq_.data(), std::uint64_t{1} << 61, 0, &result_);
  expect_refused(iq_.data(), UINT64_MAX, 0, &result_);
}

TEST_F(FmDemodulateFailure, LimitsThemselvesAreAccepted) {
  for (std::int32_t offset_hz : {-100000, 100000}) {
    AudioBuffer* result = nullptr;
    ASSERT_EQ(fm_demodulate(iq_.data(), 1000, offset_hz, &result), 0);
    free_audio_buffer(result);
  }
  AudioBuffer* result = nullptr;
  ASSERT_EQ(fm_demodulate(iq_.data(), 5, 0, &result), 0);
  free_audio_buffer(result);
  // 2^61 - 1 pairs passes the guards: the next step is the requests for the
  // mixer's window, the baseband block and the record, tested together (the
  // first made to fail here, so that nothing is read).
  mem_fail_request(1);
  EXPECT_EQ(fm_demodulate(iq_.data(), (std::uint64_t{1} << 61) - 1, 0, &result_), -1);
  EXPECT_EQ(mem_request_count(), 3u);
  EXPECT_EQ(result_, &sentinel_);
}

TEST_F(FmDemodulateFailure, EveryAllocationFailureReleasesWhatWasTaken) {
  // Requests in order: the mixer's window, the baseband block, the record
  // (all three requested before any is tested), output samples, the voice
  // band's work array. Leaks are caught by the sanitizer build's leak checker.
  const std::uint64_t requests_made[] = {3, 3, 3, 4, 5};
  for (std::uint64_t k = 1; k <= 5; ++k) {
    mem_fail_request(k);
    EXPECT_EQ(fm_demodulate(iq_.data(), 1000, 25000, &result_), -1) << "request " << k;
    EXPECT_EQ(mem_request_count(), requests_made[k - 1]) << "request " << k;
    EXPECT_EQ(result_, &sentinel_) << "request " << k;
  }
  mem_fail_request(6);
  AudioBuffer* result = nullptr;
  ASSERT_EQ(fm_demodulate(iq_.data(), 1000, 25000, &result), 0);
  EXPECT_EQ(mem_request_count(), 5u);
  free_audio_buffer(result);
}

}  // namespace

}  // namespace kdsp
