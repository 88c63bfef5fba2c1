// The front end: from a recording's pairs at its own rate to a capture at the
// core's rate with the chosen channel where the kernel demodulates it.
//
// A recording already at the core's rate with the channel inside the core's
// reach passes through untouched, so that a kdsp capture gives kdsp's own
// bytes. Any other is translated so that the channel sits at 0 Hz and
// resampled. A recording at four times the core's rate or more first goes
// through a decimating filter whose taps are moved up to the channel (two
// liquid-dsp firdecim_crcf, on the taps' real and imaginary parts), by a
// whole factor to between two and four times the core's rate; an oscillator
// (nco_crcf) at that lower rate completes the translation. Then
// msresamp_crcf reaches the core's rate (any ratio) and, when a channel width
// narrower than the voice chain's is asked for, a Kaiser filter narrows it
// (firfilt_crcf). Every stretch of the output is converted on its own, with
// enough input before it for the filters to settle and their delays taken
// out, so that stretches can be converted side by side; at the common rates
// (any whole number of pairs per second) each output pair lands on the same
// instant of the recording whichever stretch computes it.
#pragma once

#include <complex>
#include <cstdint>
#include <string>

#include "radio/base/failure.h"
#include "radio/io/channel_width.h"
#include "radio/io/recording.h"

namespace kdsp {

// Stop-band attenuation of the resampler and the channel filter.
inline constexpr float FRONT_END_STOPBAND_DB = 60.0f;
inline constexpr double MIN_CHANNEL_WIDTH_HZ = 5000.0;
// The narrow channel filter (--bandwidth, and the captures of channels
// closer than a channel's width): long enough for a steep edge at 12.5 kHz.
inline constexpr unsigned NARROW_FILTER_TAPS = 601;
// The band around the channel the first stage keeps clear of aliases: the
// core's reach and half a channel.
inline constexpr double FRONT_END_PASSBAND_HZ = 112500.0;
// The first stage decimates to at least this many times the core's rate.
inline constexpr double FIRST_STAGE_MIN_RATE_FACTOR = 2.0;

struct FrontEndPlan {
  double input_rate = 0.0;
  std::uint64_t input_pair_count = 0;
  bool pass_through = false;
  double shift_hz = 0.0;                // moved to 0 Hz when not passing through
  unsigned decimation = 1;              // the first stage's factor (1: no first stage)
  double resampler_delay = 0.0;         // the resampler's delay at 0 Hz, in output pairs
  std::int32_t placed_offset_hz = 0;    // where the kernel finds the channel
  double channel_width_hz = 0.0;        // 0: no channel filter
  std::uint64_t output_pair_count = 0;  // the whole recording at the core's rate
  // Output positions that are multiples of this fall exactly on an input
  // sample (0: no such positions; the nearest input sample is taken).
  std::uint64_t output_grid = 0;
  std::uint64_t input_grid = 0;  // input samples per output_grid
};

// Plans the conversion of a recording with the channel at `offset_hz` from its
// centre; `channel_width_hz` 0 or at least CHANNEL_WIDTH_HZ means
// no channel filter. The caller has checked that the channel lies in the band.
// 0 with `*front_end` filled, or -1 with `*failure` set when the
// resampler could not be measured (memory ran out).
int plan_front_end(double input_rate, std::uint64_t input_pair_count, double offset_hz, double channel_width_hz,
                   FrontEndPlan* front_end, Failure* failure);

// The first stage's decimation factor for a recording at `input_rate`: the
// largest that leaves at least FIRST_STAGE_MIN_RATE_FACTOR times the core's
// rate, or 1 below twice that.
unsigned first_stage_decimation(double input_rate);

// Converts output pairs first_output .. first_output + count - 1 into `out`,
// reading through `reader`. 0, or -1 with `*error` set.
int convert_span(const FrontEndPlan& plan, RecordingReader& reader, std::uint64_t first_output, std::uint64_t count,
                 std::complex<float>* out, Failure* failure);

}  // namespace kdsp
