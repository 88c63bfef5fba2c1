// The spectrogram as an RGB picture: a title with the recording's name and
// length on top; below it a frequency scale in Hz or kHz (absolute when the
// centre is known, else offsets from it) with the found channels marked and
// labelled; the plot, time running down with seconds at the left and the
// recording's whole band across; and a colour bar in dB over the noise floor
// at the bottom.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "radio/io/png_encode.h"
#include "radio/spectrum/channel_finder.h"
#include "radio/spectrum/spectrum.h"

namespace kdsp {

struct SpectrogramView {
  const CaptureSpectrum* spectrum = nullptr;  // with spectrogram rows
  double floor_power = 0.0;
  std::span<const FoundChannel> channels;
  std::optional<double> centre_hz;
  std::string name;  // the recording's path; the title shows its last part
  double duration_s = 0.0;
};

inline constexpr int SPECTROGRAM_PLOT_WIDTH = static_cast<int>(MAX_SPECTROGRAM_ROW_BINS);
inline constexpr int SPECTROGRAM_LEFT_MARGIN = 56;
inline constexpr int SPECTROGRAM_RIGHT_MARGIN = 16;
inline constexpr int SPECTROGRAM_TITLE_HEIGHT = 22;
inline constexpr int SPECTROGRAM_TOP_MARGIN = 78;     // title, frequency scale, channel marks
inline constexpr int SPECTROGRAM_BOTTOM_MARGIN = 40;  // the colour bar and its scale
inline constexpr int SPECTROGRAM_COLOUR_BAR_WIDTH = 256;
inline constexpr int SPECTROGRAM_COLOUR_BAR_HEIGHT = 10;

// Horizontal pixel of `offset_hz` (from the centre) for a band of `sample_rate`.
int spectrogram_column(double offset_hz, double sample_rate);

// The picture; the spectrum must have spectrogram rows of
// SPECTROGRAM_PLOT_WIDTH bins.
RgbImage render_spectrogram(const SpectrogramView& view);

}  // namespace kdsp
