#include "radio/chain/squelch_gate.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>

#include "base/numbers.h"
#include "radio/chain/liquid_owner.h"
#include "radio/io/capture_file.h"
#include "radio/kernel/core_run.h"

namespace kdsp {

namespace {

// The noise is read at this quantile of the reference bins: robust while up
// to three quarters of the reference band hold other channels.
constexpr double REFERENCE_QUANTILE = 0.25;
// Bins this close to the channel's band stay out of the reference: the
// window's leakage.
constexpr double REFERENCE_GUARD_HZ = 2000.0;
constexpr double CNR_CEILING_DB = 99.0;

// P(k, x): the probability that a sum of k unit exponentials stays below x.
double gamma_cdf(unsigned k, double x) {
  double term = 1.0;
  double sum = 1.0;
  for (unsigned i = 1; i < k; ++i) {
    term *= x / i;
    sum += term;
  }
  return 1.0 - std::exp(-x) * sum;
}

// The quantile of a noise bin's power averaged over `frames` frames, as a
// fraction of its mean.
double noise_quantile_of_mean(unsigned frames, double quantile) {
  double low = 0.0;
  double high = 4.0;
  for (int step = 0; step < 60; ++step) {
    const double middle = 0.5 * (low + high);
    if (gamma_cdf(frames, middle * frames) < quantile) {
      low = middle;
    } else {
      high = middle;
    }
  }
  return 0.5 * (low + high);
}

}  // namespace

struct CnrMeterState {
  std::vector<std::complex<float>> frame;
  std::vector<std::complex<float>> bins;
  std::vector<float> window;
  std::vector<double> power;
  std::vector<std::size_t> channel_bins;
  std::vector<std::size_t> reference_bins;
  std::vector<double> reference_power;
  double quantile_of_mean = 1.0;
  double bin_hz = 0.0;
  fftwf_plan plan = nullptr;
  ~CnrMeterState() {
    if (plan == nullptr) return;
    const std::lock_guard hold(fftw_planner_lock());
    fftwf_destroy_plan(plan);
  }
};

void CnrMeterStateRelease::operator()(CnrMeterState* state) const { delete state; }

CnrMeter::CnrMeter(const CnrBands& bands) : state_(new CnrMeterState) {
  CnrMeterState& s = *state_;
  s.frame.resize(CNR_FRAME_PAIRS);
  s.bins.resize(CNR_FRAME_PAIRS);
  s.window.resize(CNR_FRAME_PAIRS);
  s.power.resize(CNR_FRAME_PAIRS);
  for (std::size_t n = 0; n < CNR_FRAME_PAIRS; ++n) {
    s.window[n] = static_cast<float>(
        0.5 - 0.5 * std::cos(TWO_PI * static_cast<double>(n) / static_cast<double>(CNR_FRAME_PAIRS)));
  }
  s.bin_hz = static_cast<double>(CORE_PAIR_RATE) / static_cast<double>(CNR_FRAME_PAIRS);
  for (std::size_t k = 0; k < CNR_FRAME_PAIRS; ++k) {
    const auto signed_bin = static_cast<double>(
        k < CNR_FRAME_PAIRS / 2 ? static_cast<std::ptrdiff_t>(k)
                                : static_cast<std::ptrdiff_t>(k) - static_cast<std::ptrdiff_t>(CNR_FRAME_PAIRS));
    const double hz = signed_bin * s.bin_hz;
    const double from_channel = std::fabs(hz - bands.channel_offset_hz);
    if (from_channel <= bands.channel_half_width_hz) {
      s.channel_bins.push_back(k);
    } else if (from_channel > bands.channel_half_width_hz + REFERENCE_GUARD_HZ && hz >= bands.reference_low_hz &&
               hz <= bands.reference_high_hz) {
      s.reference_bins.push_back(k);
    }
  }
  s.reference_power.resize(s.reference_bins.size());
  s.quantile_of_mean = noise_quantile_of_mean(CNR_FRAMES_PER_WINDOW, REFERENCE_QUANTILE);
  const std::lock_guard hold(fftw_planner_lock());
  s.plan = fftwf_plan_dft_1d(static_cast<int>(CNR_FRAME_PAIRS), reinterpret_cast<fftwf_complex*>(s.frame.data()),
                             reinterpret_cast<fftwf_complex*>(s.bins.data()), FFTW_FORWARD, FFTW_ESTIMATE);
}

double CnrMeter::measure(const std::complex<float>* window) {
  CnrMeterState& s = *state_;
  std::fill(s.power.begin(), s.power.end(), 0.0);
  for (std::size_t f = 0; f < CNR_FRAMES_PER_WINDOW; ++f) {
    const std::complex<float>* pairs = window + f * CNR_FRAME_PAIRS;
    for (std::size_t n = 0; n < CNR_FRAME_PAIRS; ++n) s.frame[n] = pairs[n] * s.window[n];
    fftwf_execute(s.plan);
    for (std::size_t k = 0; k < CNR_FRAME_PAIRS; ++k) s.power[k] += std::norm(s.bins[k]);
  }
  if (s.reference_bins.empty() || s.channel_bins.empty()) return CNR_FLOOR_DB;
  for (std::size_t i = 0; i < s.reference_bins.size(); ++i) {
    s.reference_power[i] = s.power[s.reference_bins[i]] / CNR_FRAMES_PER_WINDOW;
  }
  const auto at = s.reference_power.begin() +
                  static_cast<std::ptrdiff_t>(REFERENCE_QUANTILE * static_cast<double>(s.reference_power.size()));
  std::nth_element(s.reference_power.begin(), at, s.reference_power.end());
  const double noise_per_bin = *at / s.quantile_of_mean;
  double channel = 0.0;
  for (std::size_t k : s.channel_bins) channel += s.power[k] / CNR_FRAMES_PER_WINDOW;
  const double carrier = channel - noise_per_bin * static_cast<double>(s.channel_bins.size());
  if (!(carrier > 0.0)) return CNR_FLOOR_DB;
  if (!(noise_per_bin > 0.0)) return CNR_CEILING_DB;
  const double ratio_db = 10.0 * std::log10(carrier / (noise_per_bin * CNR_BANDWIDTH_HZ / s.bin_hz));
  return std::clamp(ratio_db, CNR_FLOOR_DB, CNR_CEILING_DB);
}

SquelchGate make_squelch_gate(double threshold_db, double hang_s) {
  SquelchGate gate;
  gate.open_db = threshold_db;
  gate.close_db = threshold_db - SQUELCH_HYSTERESIS_DB;
  const double window_s = static_cast<double>(CNR_WINDOW_PAIRS) / CORE_PAIR_RATE;
  gate.hang_windows = static_cast<std::uint64_t>(std::max(1.0, std::ceil(hang_s / window_s)));
  return gate;
}

GateEvent step_squelch_gate(SquelchGate* gate, double cnr_db) {
  const std::uint64_t index = gate->windows++;
  if (!gate->open) {
    if (cnr_db < gate->open_db) return GateEvent::NONE;
    gate->open = true;
    gate->opened_at = index;
    gate->last_loud = index;
    gate->quiet_count = 0;
    gate->open_power_sum = std::pow(10.0, cnr_db / 10.0);
    gate->open_power_count = 1;
    return GateEvent::OPENED;
  }
  if (cnr_db >= gate->close_db) {
    gate->open_power_sum += std::pow(10.0, cnr_db / 10.0);
    gate->open_power_count += 1;
    gate->last_loud = index;
    gate->quiet_count = 0;
    return GateEvent::NONE;
  }
  if (++gate->quiet_count < gate->hang_windows) return GateEvent::NONE;
  gate->open = false;
  return GateEvent::CLOSED;
}

double gate_open_level_db(const SquelchGate& gate) {
  if (gate.open_power_count == 0 || !(gate.open_power_sum > 0.0)) return CNR_FLOOR_DB;
  return 10.0 * std::log10(gate.open_power_sum / static_cast<double>(gate.open_power_count));
}

}  // namespace kdsp
