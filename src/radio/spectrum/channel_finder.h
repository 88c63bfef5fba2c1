// Finding narrowband channels in an averaged spectrum: bins standing clearly
// above a robust noise floor, grouped into channels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "radio/io/channel_width.h"
#include "radio/spectrum/spectrum.h"

namespace kdsp {

struct FoundChannel {
  double offset_hz = 0.0;     // power-weighted centre
  double level_db = 0.0;      // strongest bin over the noise floor
  double cnr_db = 0.0;        // channel power over the noise in CNR_BANDWIDTH_HZ
  double bandwidth_hz = 0.0;  // holding 99 % of the channel's power
  std::size_t first_bin = 0;
  std::size_t last_bin = 0;
};

// Channels closer than this are taken as one: the gaps between the spectral
// lines of a tone-modulated FM channel are as wide as the tone's frequency.
inline constexpr double CHANNEL_MERGE_GAP_HZ = 3500.0;
// Channels whose skirts touch are told apart by the valley between them, in
// the spectrum smoothed over CHANNEL_MERGE_GAP_HZ: this far below the weaker.
inline constexpr double CHANNEL_VALLEY_DB = 15.0;
inline constexpr double MIN_CHANNEL_SPACING_HZ = 10000.0;
inline constexpr double DEFAULT_THRESHOLD_DB = 10.0;

// The mean noise power per bin of a spectrum whose bins each average
// `frames` frames (noise_floor.h: robust to channels in most of the band).
double noise_floor_power(const std::vector<double>& power, std::uint64_t frames);

// Channels whose bins exceed the floor by `threshold_db`, strongest (by
// carrier-to-noise ratio) first. A receiver's leak at 0 Hz is not a channel.
std::vector<FoundChannel> find_channels(const CaptureSpectrum& spectrum, double floor_power, double threshold_db);

// Text sketch of the spectrum around a channel, one character per kilohertz
// from -16 to +16 kHz, darker characters for stronger bins.
std::string channel_sketch(const CaptureSpectrum& spectrum, double floor_power, const FoundChannel& channel);
inline constexpr int SKETCH_HALF_WIDTH_KHZ = 16;

}  // namespace kdsp
