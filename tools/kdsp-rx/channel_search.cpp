#include "kdsp-rx/channel_search.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "kdsp-scan/channel_finder.h"

namespace kdsp {

namespace {

constexpr double DC_SPIKE_REACH_HZ = 1000.0;
constexpr double DC_SPIKE_MAX_WIDTH_HZ = 1500.0;

std::size_t search_fft_size(double sample_rate) {
  std::size_t size = SCAN_FFT_SIZE;
  while (sample_rate / static_cast<double>(size) > SEARCH_MAX_BIN_HZ) size *= 2;
  return size;
}

// The pairs the spectrum is taken from: the whole recording when it is short,
// else equal stretches spread over it, each a whole number of frame hops.
int read_search_pairs(const RecordingInfo& recording, std::size_t fft_size, std::vector<std::complex<float>>* pairs,
                      std::string* error) {
  RecordingReader reader;
  if (open_recording_reader(recording, &reader, error) != 0) return -1;
  const std::uint64_t total = recording.pair_count;
  if (total <= SEARCH_MAX_PAIRS) {
    pairs->resize(total);
    return read_recording_pairs(reader, 0, total, pairs->data(), error);
  }
  const std::size_t hop = fft_size / 2;
  const std::size_t stretch = std::max(SEARCH_MAX_PAIRS / SEARCH_STRETCHES / hop, std::size_t{3}) * hop;
  pairs->resize(stretch * SEARCH_STRETCHES);
  for (std::size_t s = 0; s < SEARCH_STRETCHES; ++s) {
    const std::uint64_t first = (total - stretch) * s / (SEARCH_STRETCHES - 1);
    if (read_recording_pairs(reader, static_cast<std::int64_t>(first), stretch, pairs->data() + s * stretch, error) !=
        0) {
      return -1;
    }
  }
  return 0;
}

}  // namespace

bool is_dc_spike(const FoundChannel& channel) {
  return std::fabs(channel.offset_hz) < DC_SPIKE_REACH_HZ && channel.bandwidth_hz < DC_SPIKE_MAX_WIDTH_HZ;
}

int find_strongest_channel(const RecordingInfo& recording, double reach_hz, FoundChoice* choice, std::string* error) {
  const std::size_t fft_size = search_fft_size(recording.sample_rate);
  if (recording.pair_count < 8 * fft_size) {
    *error = "'" + recording.path + "' is too short to search for a channel; give --offset or --freq";
    return -1;
  }
  std::vector<std::complex<float>> pairs;
  if (read_search_pairs(recording, fft_size, &pairs, error) != 0) return -1;
  const CaptureSpectrum spectrum =
      analyse_capture(std::span<const float>(reinterpret_cast<const float*>(pairs.data()), 2 * pairs.size()),
                      recording.sample_rate, fft_size);
  pairs.clear();
  pairs.shrink_to_fit();
  const double floor_power = noise_floor_power(spectrum.average_power);
  // Strongest first: the first one a channel can use is the choice.
  for (const FoundChannel& channel : find_channels(spectrum, floor_power, DEFAULT_THRESHOLD_DB)) {
    if (is_dc_spike(channel) || std::fabs(channel.offset_hz) > reach_hz) continue;
    choice->offset_hz = channel.offset_hz;
    choice->cnr_db = channel.cnr_db;
    return 0;
  }
  *error = "no channel stands " + std::to_string(static_cast<int>(DEFAULT_THRESHOLD_DB)) + " dB above the noise in '" +
           recording.path + "'; give --offset or --freq";
  return -1;
}

}  // namespace kdsp
