#include "radio/chain/squelch_gate.h"

#include <algorithm>
#include <cmath>

#include "base/numbers.h"
#include "radio/kernel/core_run.h"
#include "radio/spectrum/frame_power.h"
#include "radio/spectrum/noise_floor.h"

namespace kdsp {

namespace {

// Bins this close to the channel's band stay out of the reference: the
// window's leakage.
constexpr double REFERENCE_GUARD_HZ = 2000.0;
constexpr double CNR_CEILING_DB = 99.0;

}  // namespace

struct CnrMeterState {
  FramePower frame_power;
  std::vector<double> power;
  std::vector<std::size_t> channel_bins;
  std::vector<std::size_t> reference_bins;
  std::vector<double> reference_power;
  double quantile_of_mean = 1.0;
  double bin_hz = 0.0;
};

void CnrMeterStateRelease::operator()(CnrMeterState* state) const { delete state; }

int CnrMeter::make(const CnrBands& bands) {
  std::unique_ptr<CnrMeterState, CnrMeterStateRelease> state(new CnrMeterState);
  CnrMeterState& s = *state;
  if (s.frame_power.make(CNR_FRAME_PAIRS) != 0) return -1;
  s.power.resize(CNR_FRAME_PAIRS);
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
  s.quantile_of_mean = noise_quantile_of_mean(CNR_FRAMES_PER_WINDOW);
  state_ = std::move(state);
  return 0;
}

double CnrMeter::measure(const std::complex<float>* window) {
  CnrMeterState& s = *state_;
  std::fill(s.power.begin(), s.power.end(), 0.0);
  for (std::size_t f = 0; f < CNR_FRAMES_PER_WINDOW; ++f)
    s.frame_power.add(window + f * CNR_FRAME_PAIRS, s.power.data());
  if (s.reference_bins.empty() || s.channel_bins.empty()) return CNR_FLOOR_DB;
  for (std::size_t i = 0; i < s.reference_bins.size(); ++i) {
    s.reference_power[i] = s.power[s.reference_bins[i]] / CNR_FRAMES_PER_WINDOW;
  }
  const double noise_per_bin = noise_floor_per_bin(s.reference_power, s.quantile_of_mean);
  double channel = 0.0;
  for (std::size_t k : s.channel_bins) channel += s.power[k] / CNR_FRAMES_PER_WINDOW;
  const double carrier = channel - noise_per_bin * static_cast<double>(s.channel_bins.size());
  if (!(carrier > 0.0)) return CNR_FLOOR_DB;
  if (!(noise_per_bin > 0.0)) return CNR_CEILING_DB;
  return std::clamp(carrier_to_noise_db(carrier, noise_per_bin, s.bin_hz), CNR_FLOOR_DB, CNR_CEILING_DB);
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
