// One channel of a placed capture (pairs at IQ_SAMPLE_RATE), moved to 0 Hz,
// narrowed to a 25 kHz channel and decimated to CHANNEL_RATE, by fast
// convolution: each block of the capture is transformed (FFTW, through
// base/fft_plan), the bins around the channel are weighted by the channel
// filter's response (chain/kaiser_taps) and brought back by a transform an
// eighth as long, which is the decimation. Moving by whole bins leaves the
// channel within half a bin (29 Hz) of 0 Hz, a constant offset to a
// frequency discriminator. Mixing every pair with an oscillator and filtering at the
// capture's rate costs three times as much.
#pragma once

#include <complex>
#include <memory>
#include <span>
#include <vector>

#include "radio/base/failure.h"

namespace kdsp {

inline constexpr double CHANNEL_RATE = 30000.0;  // pairs per second
// Flat to CHANNEL_PASS_HZ either side, 60 dB down from CHANNEL_STOP_HZ: the
// noise bandwidth carrier-to-noise ratios are stated in, and the next
// channel on a 25 kHz raster well out.
inline constexpr double CHANNEL_PASS_HZ = 10000.0;
inline constexpr double CHANNEL_STOP_HZ = 15000.0;

struct ChannelExtractState;
struct ChannelExtractRelease {
  void operator()(ChannelExtractState* state) const;
};
using ChannelExtract = std::unique_ptr<ChannelExtractState, ChannelExtractRelease>;

// An extractor for the channel at `offset_hz` from the capture's centre
// (|offset_hz| below half the capture's rate). 0 with `*extract` set, or -1
// with `*failure` set.
int create_channel_extract(double offset_hz, ChannelExtract* extract, Failure* failure);

// Takes the next pairs of the capture, in any block sizes, and appends the
// channel's pairs they complete to `*out`.
void extract_channel(ChannelExtractState& extract, std::span<const std::complex<float>> pairs,
                     std::vector<std::complex<float>>* out);

}  // namespace kdsp
