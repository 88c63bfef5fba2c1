#include "radio/spectrum/channel_survey.h"

#include <algorithm>
#include <cmath>

#include "radio/spectrum/channel_finder.h"
#include "radio/spectrum/channel_search.h"
#include "radio/spectrum/recording_spectrum.h"
#include "radio/spectrum/spectrum.h"

namespace kdsp {

namespace {

// The channels standing above the floor of one spectrum.
std::vector<FoundChannel> channels_in(const std::vector<double>& power, std::uint64_t frames, std::size_t fft_size,
                                      double sample_rate) {
  CaptureSpectrum spectrum;
  spectrum.fft_size = fft_size;
  spectrum.bin_hz = sample_rate / static_cast<double>(fft_size);
  spectrum.average_power = power;
  return find_channels(spectrum, noise_floor_power(power, frames), DEFAULT_THRESHOLD_DB);
}

void add_new_channels(const std::vector<FoundChannel>& found, double reach_hz, std::vector<SurveyedChannel>* channels) {
  for (const FoundChannel& channel : found) {
    if (std::fabs(channel.offset_hz) > reach_hz) continue;
    const bool known = std::any_of(channels->begin(), channels->end(), [&](const SurveyedChannel& other) {
      return std::fabs(other.offset_hz - channel.offset_hz) < SURVEY_SAME_CHANNEL_HZ;
    });
    if (!known) channels->push_back({channel.offset_hz, channel.cnr_db});
  }
}

}  // namespace

int survey_channels(const RecordingInfo& recording, double reach_hz, std::vector<SurveyedChannel>* channels,
                    Failure* failure, bool* silent) {
  const std::size_t fft_size = scan_fft_size(recording.sample_rate, SURVEY_MAX_BIN_HZ);
  const std::size_t stretch = 8 * fft_size;
  const std::uint64_t total = recording.pair_count;
  if (total < stretch) {
    *failure = Failure{"'" + recording.path + "' is too short to search for channels; give --channels"};
    return -1;
  }
  const auto spacing = std::max<std::uint64_t>(
      stretch, static_cast<std::uint64_t>(std::llround(SURVEY_SPACING_S * recording.sample_rate)));
  std::vector<std::uint64_t> starts;
  for (std::uint64_t first = 0; first + stretch <= total; first += spacing) starts.push_back(first);
  if (starts.back() + stretch < total) starts.push_back(total - stretch);

  RecordingReader reader;
  if (open_recording_reader(recording, &reader, failure) != 0) return -1;
  std::vector<double> average(fft_size, 0.0);
  std::vector<double> maximum(fft_size, 0.0);
  std::uint64_t stretch_frames = 0;
  std::vector<std::vector<double>> heard;  // the spectra of stretches that held a signal or noise
  for (std::uint64_t first : starts) {
    SpectrumAccumulator accumulator;
    if (start_spectrum(&accumulator, recording.sample_rate, fft_size, stretch, 0) != 0) {
      *failure = Failure{"out of memory"};
      return -1;
    }
    if (add_recording_stretch(reader, first, stretch, &accumulator, failure) != 0) return -1;
    CaptureSpectrum spectrum = finish_spectrum(&accumulator);
    // A stretch that is all dropout has no spectrum to add.
    if (spectrum.frame_count == 0) continue;
    stretch_frames = std::max(stretch_frames, spectrum.frame_count);
    heard.push_back(std::move(spectrum.average_power));
  }
  std::vector<SurveyedChannel> found;
  if (silent != nullptr) *silent = heard.empty();
  if (heard.empty()) {
    *channels = std::move(found);
    return 0;
  }
  for (const std::vector<double>& power : heard) {
    for (std::size_t k = 0; k < fft_size; ++k) {
      average[k] += power[k] / static_cast<double>(heard.size());
      maximum[k] = std::max(maximum[k], power[k]);
    }
  }
  // The average's centres first: steadier than the maximum's.
  add_new_channels(channels_in(average, stretch_frames * heard.size(), fft_size, recording.sample_rate), reach_hz,
                   &found);
  add_new_channels(channels_in(maximum, stretch_frames, fft_size, recording.sample_rate), reach_hz, &found);
  std::sort(found.begin(), found.end(),
            [](const SurveyedChannel& a, const SurveyedChannel& b) { return a.offset_hz < b.offset_hz; });
  *channels = std::move(found);
  return 0;
}

}  // namespace kdsp
