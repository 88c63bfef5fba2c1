// How far a channel stands above the noise: one estimate of the noise floor
// and one carrier-to-noise ratio, for the scanner, the channel finder and the
// squelch meters alike, so that every program reports the same dB for the
// same channel.
//
// The floor is read at a low quantile of the bins: robust while up to three
// quarters of them hold channels (a busy band, or a meter's reference band
// beside neighbours in use), where a median or a mean would count the
// channels in. Averaged noise bins spread around their mean as a gamma
// distribution does, so the quantile is divided by what it is for noise
// alone, which gives the mean noise power per bin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include "radio/io/channel_width.h"

namespace kdsp {

inline constexpr double NOISE_FLOOR_QUANTILE = 0.25;

// The quantile NOISE_FLOOR_QUANTILE of a noise bin's power averaged over
// `frames` frames, as a fraction of its mean.
double noise_quantile_of_mean(std::uint64_t frames);

// The mean noise power per bin that `bin_powers` (each averaged over
// `frames` frames) show; the bins are reordered. 0 when there are none.
double noise_floor_per_bin(std::span<double> bin_powers, std::uint64_t frames);

// The same with the quantile-of-mean factor already known.
double noise_floor_per_bin(std::span<double> bin_powers, double quantile_of_mean);

// The ratio in dB of `carrier_power` (power above the noise, summed over
// bins `bin_hz` wide) to the noise in CNR_BANDWIDTH_HZ.
double carrier_to_noise_db(double carrier_power, double noise_per_bin, double bin_hz);

}  // namespace kdsp
