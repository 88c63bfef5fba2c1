#include "radio/spectrum/channel_finder.h"

#include <algorithm>
#include <cmath>

#include "radio/spectrum/noise_floor.h"

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

// The power averaged over CHANNEL_MERGE_GAP_HZ around each bin: the lines of
// one tone-modulated channel blur into one hump, while channels on a 12.5 kHz
// raster keep a valley between them.
std::vector<double> smoothed_power(const std::vector<double>& power, double bin_hz) {
  const auto half = static_cast<std::ptrdiff_t>(std::lround(CHANNEL_MERGE_GAP_HZ / 2.0 / bin_hz));
  const auto size = static_cast<std::ptrdiff_t>(power.size());
  std::vector<double> running(power.size() + 1, 0.0);
  for (std::size_t k = 0; k < power.size(); ++k) running[k + 1] = running[k] + power[k];
  std::vector<double> smoothed(power.size());
  for (std::ptrdiff_t k = 0; k < size; ++k) {
    const std::ptrdiff_t low = std::max<std::ptrdiff_t>(k - half, 0);
    const std::ptrdiff_t high = std::min<std::ptrdiff_t>(k + half + 1, size);
    smoothed[static_cast<std::size_t>(k)] =
        (running[static_cast<std::size_t>(high)] - running[static_cast<std::size_t>(low)]) /
        static_cast<double>(high - low);
  }
  return smoothed;
}

// The part of `range` from its first to its last bin above `threshold_power`;
// false when there is none.
bool trim_to_threshold(const std::vector<double>& power, double threshold_power, BinRange* range) {
  while (range->first <= range->last && power[range->first] <= threshold_power) ++range->first;
  while (range->last >= range->first && power[range->last] <= threshold_power) {
    if (range->last == 0) return false;
    --range->last;
  }
  return range->first <= range->last;
}

// What the split of a group needs: the smoothed power, and running sums of
// the power over the floor, plain and weighted by bin, for the centre of any
// part of the spectrum in one step.
struct ValleySearch {
  const std::vector<double>* power;
  std::vector<double> smoothed;
  std::vector<double> excess_sum;
  std::vector<double> weighted_sum;
  double threshold_power;
  std::size_t min_spacing_bins;
};

ValleySearch valley_search(const std::vector<double>& power, double bin_hz, double floor_power,
                           double threshold_power) {
  ValleySearch search{&power,
                      smoothed_power(power, bin_hz),
                      std::vector<double>(power.size() + 1, 0.0),
                      std::vector<double>(power.size() + 1, 0.0),
                      threshold_power,
                      static_cast<std::size_t>(std::lround(MIN_CHANNEL_SPACING_HZ / bin_hz))};
  for (std::size_t k = 0; k < power.size(); ++k) {
    const double excess = std::max(power[k] - floor_power, 0.0);
    search.excess_sum[k + 1] = search.excess_sum[k] + excess;
    search.weighted_sum[k + 1] = search.weighted_sum[k] + excess * static_cast<double>(k);
  }
  return search;
}

// The power-weighted centre of bins first .. last - 1, in bins.
double centre_bin(const ValleySearch& search, std::size_t first, std::size_t end) {
  const double total = search.excess_sum[end] - search.excess_sum[first];
  if (!(total > 0.0)) return static_cast<double>(first + end) / 2.0;
  return (search.weighted_sum[end] - search.weighted_sum[first]) / total;
}

// Splits a group at its deepest valley, again and again, while that valley
// lies CHANNEL_VALLEY_DB below the smaller of the humps on either side and
// the parts' centres lie MIN_CHANNEL_SPACING_HZ apart: neighbouring channels
// whose skirts touch above the threshold. (The spacing keeps one
// tone-modulated channel whole when the tone nulls its carrier.)
void split_at_valleys(const ValleySearch& search, BinRange range, std::vector<BinRange>* channels) {
  const std::vector<double>& smoothed = search.smoothed;
  const std::size_t length = range.last - range.first + 1;
  std::vector<double> peak_before(length);
  std::vector<double> peak_after(length);
  for (std::size_t i = 0; i < length; ++i) {
    const double value = smoothed[range.first + i];
    peak_before[i] = i == 0 ? value : std::max(peak_before[i - 1], value);
  }
  for (std::size_t i = length; i-- > 0;) {
    const double value = smoothed[range.first + i];
    peak_after[i] = i + 1 == length ? value : std::max(peak_after[i + 1], value);
  }
  double deepest = std::pow(10.0, CHANNEL_VALLEY_DB / 10.0);
  std::size_t valley = 0;
  for (std::size_t i = 1; i + 1 < length; ++i) {
    const std::size_t k = range.first + i;
    if (!(smoothed[k] > 0.0)) continue;
    const double depth = std::min(peak_before[i], peak_after[i]) / smoothed[k];
    if (depth < deepest) continue;
    const double spacing = centre_bin(search, k + 1, range.last + 1) - centre_bin(search, range.first, k);
    if (spacing < static_cast<double>(search.min_spacing_bins)) continue;
    deepest = depth;
    valley = i;
  }
  if (valley == 0) {
    channels->push_back(range);
    return;
  }
  BinRange below{range.first, range.first + valley - 1};
  BinRange above{range.first + valley + 1, range.last};
  if (trim_to_threshold(*search.power, search.threshold_power, &below)) split_at_valleys(search, below, channels);
  if (trim_to_threshold(*search.power, search.threshold_power, &above)) split_at_valleys(search, above, channels);
}

// Receivers leak their own carrier into the bins at exactly 0 Hz. Those bins
// are replaced by the level on either side of them, so that the leak neither
// shows as a channel nor joins a channel beside it.
void flatten_dc_spike(const CaptureSpectrum& spectrum, std::vector<double>* power) {
  const std::size_t centre = spectrum.fft_size / 2;
  const std::size_t reach =
      std::max(DC_SPIKE_MIN_BINS, static_cast<std::size_t>(std::ceil(DC_SPIKE_HALF_WIDTH_HZ / spectrum.bin_hz)));
  double beside = 0.0;
  for (std::size_t k = 1; k <= DC_SPIKE_MIN_BINS; ++k) {
    beside += (*power)[centre - reach - k] + (*power)[centre + reach + k];
  }
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
  channel->offset_hz = weighted_offset / total;
  channel->level_db = to_db(peak / floor_power);
  channel->cnr_db = carrier_to_noise_db(total, floor_power, spectrum.bin_hz);
  channel->bandwidth_hz = static_cast<double>(high - low + 1) * spectrum.bin_hz;
  channel->first_bin = range.first;
  channel->last_bin = range.last;
  return true;
}

}  // namespace

double noise_floor_power(const std::vector<double>& power, std::uint64_t frames) {
  std::vector<double> bins = power;
  return noise_floor_per_bin(bins, frames);
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
  const ValleySearch search = valley_search(power, spectrum.bin_hz, floor_power, threshold_power);
  std::vector<BinRange> ranges;
  for (BinRange group : group_bins_above(power, threshold_power, merge_gap_bins)) {
    split_at_valleys(search, group, &ranges);
  }
  for (BinRange range : ranges) {
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
