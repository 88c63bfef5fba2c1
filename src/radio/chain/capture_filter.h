// The channel filter of kdsp-rx --all, for channels closer together than the
// voice chain's own width (a 12.5 kHz raster) or a --bandwidth: the Kaiser
// low-pass of the one-channel front end (NARROW_FILTER_TAPS taps, cut off at
// half the width, unit gain in its passband) moved up to where the channel
// lies in its capture, and run over each capture handed to the core by
// liquid-dsp's fftfilt_cccf (overlap-add through FFTW transforms). Its delay
// is taken out, so a filtered capture keeps its timing.
#pragma once

#include <complex>
#include <span>
#include <string>
#include <vector>

#include "radio/base/failure.h"

namespace kdsp {

// The filter's taps for a channel `width_hz` wide at `offset_hz` in a capture
// at the core's rate.
std::vector<std::complex<float>> channel_filter_taps(double width_hz, double offset_hz);

// Filters a capture in place with `taps` (an odd count). 0, or -1 with
// `*error` set when the filter could not be made.
int filter_capture(std::span<const std::complex<float>> taps, std::vector<std::complex<float>>* pairs,
                   Failure* failure);

}  // namespace kdsp
