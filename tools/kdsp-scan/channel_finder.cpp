#include "kdsp-scan/channel_finder.h"

#include <algorithm>
#include <cmath>

#include "common/capture_file.h"

namespace kdsp {

namespace {

// The bins replaced around 0 Hz: the Hann window's main lobe at least.
constexpr std::size_t DC_SPIKE_MIN_BINS = 2;
constexpr double DC_SPIKE_HALF_WIDTH_HZ = 150.0;
constexpr double DC_SPIKE_REACH_HZ = 1000.0;
constexpr double DC_SPIKE_MAX_WIDTH_HZ = 1500.0;

struct BinRange {
  std::size_t first;
  std::size_t last;
};

// Runs of bins above `threshold_power`, joined across gaps of at most
// `merge_gap_bins` bins below it.
std::vector<BinRange> group_bins_above(const std::vector<double>& power, double threshold_power,
                                       std::size_t merge_gap_bins) {
  std::vector<BinRange> groups;
  for (std::size_t k = 0; k < power.size(); ++k) {
    if (power[k] <= threshold_power) continue;
    if (!groups.empty() && k - groups.back().last <= merge_gap_bins + 1) {
      groups.back().last = k;
    } else {
      groups.push_back({k, k});
    }
  }
  return groups;
}

double to_db(double ratio) { return 10.0 * std::log10(ratio); }

// Receivers leak their own carrier into the bins at exactly 0 Hz. Those bins
// are replaced by the level on either side of them, so that the leak neither
// shows as a channel nor joins a channel beside it.
void flatten_dc_spike(const CaptureSpectrum& spectrum, std::vector<double>* power) {
  const std::size_t centre = spectrum.fft_size / 2;
  const std::size_t reach =
      std::max(DC_SPIKE_MIN_BINS, static_cast<std::size_t>(std::ceil(DC_SPIKE_HALF_WIDTH_HZ / spectrum.bin_hz)));
  double beside = 0.0;
  for (std::size_t k = 1; k <= DC_SPIKE_MIN_BINS; ++k)
    beside += (*power)[centre - reach - k] + (*power)[centre + reach + k];
  beside /= static_cast<double>(2 * DC_SPIKE_MIN_BINS);
  for (std::size_t k = centre - reach; k <= centre + reach; ++k) (*power)[k] = std::min((*power)[k], beside);
}

// What is left of a leak that wanders: a narrow line close to 0 Hz.
bool is_dc_spike(const FoundChannel& channel) {
  return std::fabs(channel.offset_hz) < DC_SPIKE_REACH_HZ && channel.bandwidth_hz < DC_SPIKE_MAX_WIDTH_HZ;
}

// Measures one group; false when it holds no power above the floor.
bool measure_channel(const CaptureSpectrum& spectrum, const std::vector<double>& power, double floor_power,
                     BinRange range, FoundChannel* channel) {
  double total = 0.0;
  double weighted_offset = 0.0;
  double peak = 0.0;
  for (std::size_t k = range.first; k <= range.last; ++k) {
    double excess = std::max(power[k] - floor_power, 0.0);
    total += excess;
    weighted_offset += excess * bin_offset_hz(spectrum, k);
    peak = std::max(peak, power[k]);
  }
  if (total <= 0.0) return false;

  // The span holding all but 0.5 % of the power on either side.
  double running = 0.0;
  std::size_t low = range.last;
  std::size_t high = range.last;
  bool low_found = false;
  for (std::size_t k = range.first; k <= range.last; ++k) {
    running += std::max(power[k] - floor_power, 0.0);
    if (!low_found && running >= 0.005 * total) {
      low = k;
      low_found = true;
    }
    if (running >= 0.995 * total) {
      high = k;
      break;
    }
  }

  double noise_in_band = floor_power * (CNR_BANDWIDTH_HZ / spectrum.bin_hz);
  channel->offset_hz = weighted_offset / total;
  channel->level_db = to_db(peak / floor_power);
  channel->cnr_db = to_db(total / noise_in_band);
  channel->bandwidth_hz = static_cast<double>(high - low + 1) * spectrum.bin_hz;
  channel->first_bin = range.first;
  channel->last_bin = range.last;
  return true;
}

}  // namespace

double noise_floor_power(const std::vector<double>& power) {
  std::vector<double> sorted = power;
  auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
  std::nth_element(sorted.begin(), middle, sorted.end());
  return *middle;
}

std::vector<FoundChannel> find_channels(const CaptureSpectrum& spectrum, double floor_power, double threshold_db) {
  std::vector<FoundChannel> channels;
  // A capture without any noise (all zero, or one pure carrier) has a floor of
  // 0; nothing can be measured against it.
  if (!(floor_power > 0.0)) return channels;
  std::vector<double> power = spectrum.average_power;
  flatten_dc_spike(spectrum, &power);
  double threshold_power = floor_power * std::pow(10.0, threshold_db / 10.0);
  auto merge_gap_bins = static_cast<std::size_t>(CHANNEL_MERGE_GAP_HZ / spectrum.bin_hz);
  for (BinRange range : group_bins_above(power, threshold_power, merge_gap_bins)) {
    FoundChannel channel;
    if (measure_channel(spectrum, power, floor_power, range, &channel) && !is_dc_spike(channel)) {
      channels.push_back(channel);
    }
  }
  std::sort(channels.begin(), channels.end(),
            [](const FoundChannel& a, const FoundChannel& b) { return a.cnr_db > b.cnr_db; });
  return channels;
}

std::string channel_sketch(const CaptureSpectrum& spectrum, double floor_power, const FoundChannel& channel) {
  static constexpr char RAMP[] = " .:-=+*#%@";
  constexpr int RAMP_STEPS = sizeof RAMP - 1;
  std::string sketch;
  for (int khz = -SKETCH_HALF_WIDTH_KHZ; khz <= SKETCH_HALF_WIDTH_KHZ; ++khz) {
    double low_hz = channel.offset_hz + 1000.0 * khz - 500.0;
    double high_hz = low_hz + 1000.0;
    double strongest = 0.0;
    for (std::size_t k = 0; k < spectrum.fft_size; ++k) {
      double hz = bin_offset_hz(spectrum, k);
      if (hz >= low_hz && hz < high_hz) strongest = std::max(strongest, spectrum.average_power[k]);
    }
    double db = strongest > 0.0 ? to_db(strongest / floor_power) : 0.0;
    int step = db < 3.0 ? 0 : std::min(RAMP_STEPS - 1, 1 + static_cast<int>((db - 3.0) / 5.0));
    sketch += RAMP[step];
  }
  return sketch;
}

}  // namespace kdsp
