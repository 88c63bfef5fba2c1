// The squelch's measurement and gate in process: the ratio it reads for a
// carrier in noise of known level, what noise alone reads, neighbours in the
// reference band, and the gate's hysteresis and hang time.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "base/numbers.h"
#include "radio/chain/fm_modulator.h"
#include "radio/chain/squelch_gate.h"

namespace kdsp {

namespace {

// One window of FM-like carriers (a slow sweep of +-2 kHz) in white noise of
// `noise_power` per pair; `carriers` holds offset and amplitude.
std::vector<std::complex<float>> window_of(const std::vector<std::pair<double, double>>& carriers, double noise_power,
                                           unsigned seed) {
  std::mt19937 engine(seed);
  std::normal_distribution<double> normal(0.0, std::sqrt(noise_power / 2.0));
  std::vector<std::complex<float>> pairs(CNR_WINDOW_PAIRS);
  std::vector<FmOscillator> oscillators;
  for (const auto& [offset_hz, amplitude] : carriers) {
    oscillators.push_back(make_fm_oscillator(240000.0, offset_hz, 2000.0, amplitude, 0.0));
  }
  for (std::size_t n = 0; n < pairs.size(); ++n) {
    std::complex<double> pair{normal(engine), normal(engine)};
    const auto sweep = static_cast<float>(std::sin(TWO_PI * 300.0 * static_cast<double>(n) / 240000.0));
    for (FmOscillator& oscillator : oscillators) pair += next_fm_pair(oscillator, sweep);
    pairs[n] = std::complex<float>(pair);
  }
  return pairs;
}

// Noise power per pair that puts a carrier of amplitude 0.5 at `cnr_db` in 27 kHz.
double noise_for(double cnr_db) { return 0.25 / std::pow(10.0, cnr_db / 10.0) * 240000.0 / 27000.0; }

}  // namespace

TEST(SquelchMeter, ReadsTheCarrierToNoiseRatioAndNothingInNoise) {
  CnrBands bands;
  bands.channel_offset_hz = 25000.0;
  CnrMeter meter;
  ASSERT_EQ(meter.make(bands), 0);
  for (double cnr : {6.0, 15.0, 30.0}) {
    SCOPED_TRACE(cnr);
    EXPECT_NEAR(meter.measure(window_of({{25000.0, 0.5}}, noise_for(cnr), 3).data()), cnr, 1.0);
  }
  // Noise alone stays far below any useful threshold, window after window.
  double loudest = CNR_FLOOR_DB;
  for (unsigned seed = 0; seed < 40; ++seed) {
    loudest = std::max(loudest, meter.measure(window_of({}, noise_for(20.0), seed).data()));
  }
  RecordProperty("loudest_noise_window_db", std::to_string(loudest));
  EXPECT_LT(loudest, -3.0);
  // Strong neighbours in half the reference band do not raise the noise read.
  std::vector<std::pair<double, double>> crowded = {{25000.0, 0.5}};
  for (double offset = -100000.0; offset < 0.0; offset += 12500.0) crowded.push_back({offset, 1.0});
  EXPECT_NEAR(meter.measure(window_of(crowded, noise_for(20.0), 5).data()), 20.0, 1.5);
  // A silent capture is no channel at all.
  const std::vector<std::complex<float>> silence(CNR_WINDOW_PAIRS);
  EXPECT_EQ(meter.measure(silence.data()), CNR_FLOOR_DB);
}

TEST(SquelchGate, OpensAtTheThresholdAndClosesAfterTheHangBelowTheHysteresis) {
  SquelchGate gate = make_squelch_gate(10.0, 0.2);  // 4 windows of 51.2 ms
  ASSERT_EQ(gate.hang_windows, 4u);
  EXPECT_EQ(step_squelch_gate(&gate, 9.9), GateEvent::NONE);
  EXPECT_FALSE(gate.open);
  EXPECT_EQ(step_squelch_gate(&gate, 10.0), GateEvent::OPENED);
  EXPECT_EQ(gate.opened_at, 1u);
  // Between the closing level and the threshold it stays open with no hang.
  for (int i = 0; i < 10; ++i) EXPECT_EQ(step_squelch_gate(&gate, 7.5), GateEvent::NONE);
  EXPECT_EQ(gate.last_loud, 11u);
  // Below it, a pause shorter than the hang keeps it open.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(step_squelch_gate(&gate, 0.0), GateEvent::NONE);
  EXPECT_EQ(step_squelch_gate(&gate, 12.0), GateEvent::NONE);
  EXPECT_TRUE(gate.open);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(step_squelch_gate(&gate, CNR_FLOOR_DB), GateEvent::NONE);
  EXPECT_EQ(step_squelch_gate(&gate, CNR_FLOOR_DB), GateEvent::CLOSED);
  EXPECT_FALSE(gate.open);
  EXPECT_EQ(gate.last_loud, 15u);
  // The level is the mean power of the loud windows: 1 x 10 dB, 10 x 7.5 dB, 1 x 12 dB.
  const double mean = (10.0 + 10.0 * std::pow(10.0, 0.75) + std::pow(10.0, 1.2)) / 12.0;
  EXPECT_NEAR(gate_open_level_db(gate), 10.0 * std::log10(mean), 1e-9);
}

}  // namespace kdsp
