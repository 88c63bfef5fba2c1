#include "radio/spectrum/channel_search.h"

#include <algorithm>
#include <cmath>

#include "radio/spectrum/channel_finder.h"
#include "radio/spectrum/recording_spectrum.h"

namespace kdsp {

namespace {

// The spectrum of the whole recording when it is short, else of equal
// stretches spread over it, each a whole number of frame hops.
int search_spectrum(const RecordingInfo& recording, std::size_t fft_size, CaptureSpectrum* spectrum, Failure* failure) {
  RecordingReader reader;
  if (open_recording_reader(recording, &reader, failure) != 0) return -1;
  SpectrumAccumulator accumulator;
  if (start_spectrum(&accumulator, recording.sample_rate, fft_size, recording.pair_count, 0) != 0) {
    *failure = Failure{"out of memory"};
    return -1;
  }
  const std::uint64_t total = recording.pair_count;
  if (total <= SEARCH_MAX_PAIRS) {
    if (add_recording_stretch(reader, 0, total, &accumulator, failure) != 0) return -1;
  } else {
    const std::size_t hop = fft_size / 2;
    const std::size_t stretch = std::max(SEARCH_MAX_PAIRS / SEARCH_STRETCHES / hop, std::size_t{3}) * hop;
    for (std::size_t s = 0; s < SEARCH_STRETCHES; ++s) {
      const std::uint64_t first = (total - stretch) * s / (SEARCH_STRETCHES - 1);
      if (add_recording_stretch(reader, first, stretch, &accumulator, failure) != 0) return -1;
    }
  }
  *spectrum = finish_spectrum(&accumulator);
  return 0;
}

}  // namespace

int find_strongest_channel(const RecordingInfo& recording, double reach_hz, FoundChoice* choice, Failure* failure) {
  const std::size_t fft_size = scan_fft_size(recording.sample_rate);
  if (recording.pair_count < 8 * fft_size) {
    *failure = Failure{"'" + recording.path + "' is too short to search for a channel; give --offset or --freq"};
    return -1;
  }
  CaptureSpectrum spectrum;
  if (search_spectrum(recording, fft_size, &spectrum, failure) != 0) return -1;
  if (spectrum.frame_count == 0) {
    *failure = Failure{"'" + recording.path +
                           "' holds no signal to find a channel in: every pair is the same (zeros, a constant or a "
                           "clipped receiver)",
                       "", recording.path};
    return -1;
  }
  const double floor_power = noise_floor_power(spectrum.average_power, spectrum.frame_count);
  // Strongest first: the first one a channel can use is the choice.
  for (const FoundChannel& channel : find_channels(spectrum, floor_power, DEFAULT_THRESHOLD_DB)) {
    if (std::fabs(channel.offset_hz) > reach_hz) continue;
    choice->offset_hz = channel.offset_hz;
    choice->cnr_db = channel.cnr_db;
    return 0;
  }
  *failure = Failure{"no channel stands " + std::to_string(static_cast<int>(DEFAULT_THRESHOLD_DB)) +
                     " dB above the noise in '" + recording.path + "'; give --offset or --freq"};
  return -1;
}

}  // namespace kdsp
