// How wide a voice channel is, as every program counts it: the widest
// channel the core's voice chain passes, the band a carrier-to-noise ratio
// states its noise in, and how far from a recording's centre a channel may
// lie with its whole width inside the band; and the rates and frequencies
// kdsp takes, from options and metadata alike.
#pragma once

namespace kdsp {

// A channel on a 25 kHz raster: what the voice chain's own filter passes.
inline constexpr double CHANNEL_WIDTH_HZ = 25000.0;
inline constexpr double CHANNEL_HALF_WIDTH_HZ = CHANNEL_WIDTH_HZ / 2.0;

// Carrier-to-noise ratios are stated for noise in this band: the width of the
// core's channel filter (13.5 kHz either side of the carrier), so that a
// ratio means what a receiver of that channel sees.
inline constexpr double CNR_BANDWIDTH_HZ = 27000.0;

// Rates below this are refused: no channel fits in the band.
inline constexpr double MIN_SAMPLE_RATE = 1000.0;
inline constexpr double MAX_SAMPLE_RATE = 1e9;
// Frequencies (a centre, a channel) are taken within this much of 0 Hz.
inline constexpr double MAX_FREQUENCY_HZ = 1e12;

// How far from the centre of a recording at `sample_rate` a channel may lie
// and keep its width inside the band (negative: no room for one).
constexpr double channel_reach_hz(double sample_rate) { return sample_rate / 2.0 - CHANNEL_HALF_WIDTH_HZ; }

}  // namespace kdsp
