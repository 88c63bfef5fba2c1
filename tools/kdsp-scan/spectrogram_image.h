// The spectrogram as an RGB picture: time runs down, frequency across from
// -120 kHz on the left to +120 kHz on the right, with a kilohertz scale and
// the found channels marked and labelled above, and seconds at the left.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "channel_finder.h"
#include "spectrum.h"

namespace kdsp {

struct SpectrogramImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // width * height * 3, rows top to bottom
};

inline constexpr int SPECTROGRAM_PLOT_WIDTH = 1024;
inline constexpr int SPECTROGRAM_LEFT_MARGIN = 40;
inline constexpr int SPECTROGRAM_TOP_MARGIN = 40;

// Horizontal pixel of `offset_hz` in the picture.
int spectrogram_column(double offset_hz);

SpectrogramImage render_spectrogram(const CaptureSpectrum& spectrum, double floor_power,
                                    std::span<const FoundChannel> channels);

}  // namespace kdsp
