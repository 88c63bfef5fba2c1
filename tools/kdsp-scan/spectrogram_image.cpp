#include "spectrogram_image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "formats/iq_capture.h"
#include "tiny_font.h"

namespace kdsp {

namespace {

constexpr int LABEL_SCALE = 2;
constexpr Rgb AXIS_COLOUR{200, 200, 200};
constexpr Rgb CHANNEL_COLOUR{255, 230, 0};
constexpr double SCALE_LABEL_STEP_HZ = 20000.0;
constexpr double SCALE_TICK_STEP_HZ = 10000.0;
constexpr double SCALE_LIMIT_HZ = 100000.0;
// Colours span from just below the noise floor to at least this far above it.
constexpr double DARKEST_DB = -3.0;
constexpr double MIN_BRIGHTEST_DB = 30.0;
constexpr int MIN_TIME_LABEL_SPACING = 24;

// Black through blue, magenta and orange to pale yellow.
Rgb heat_colour(double level) {
  struct Stop {
    double at;
    Rgb colour;
  };
  constexpr Stop STOPS[] = {
      {0.0, {0, 0, 0}}, {0.25, {20, 20, 160}}, {0.5, {170, 30, 150}}, {0.75, {250, 130, 20}}, {1.0, {255, 255, 200}}};
  level = std::clamp(level, 0.0, 1.0);
  for (std::size_t i = 1; i < std::size(STOPS); ++i) {
    if (level > STOPS[i].at) continue;
    double t = (level - STOPS[i - 1].at) / (STOPS[i].at - STOPS[i - 1].at);
    auto mix = [t](std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(std::lround(a + (b - a) * t)); };
    const Rgb& a = STOPS[i - 1].colour;
    const Rgb& b = STOPS[i].colour;
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
  }
  return STOPS[std::size(STOPS) - 1].colour;
}

double brightest_db(const CaptureSpectrum& spectrum, double floor_power) {
  double peak = *std::max_element(spectrum.row_power.begin(), spectrum.row_power.end());
  return std::max(MIN_BRIGHTEST_DB, 10.0 * std::log10(peak / floor_power));
}

void draw_plot(RgbCanvas canvas, const CaptureSpectrum& spectrum, double floor_power) {
  const std::size_t bins_per_column = spectrum.fft_size / SPECTROGRAM_PLOT_WIDTH;
  const double top_db = brightest_db(spectrum, floor_power);
  for (std::size_t row = 0; row < spectrum.row_count; ++row) {
    const double* power = spectrum.row_power.data() + row * spectrum.fft_size;
    for (int column = 0; column < SPECTROGRAM_PLOT_WIDTH; ++column) {
      double sum = 0.0;
      for (std::size_t b = 0; b < bins_per_column; ++b)
        sum += power[static_cast<std::size_t>(column) * bins_per_column + b];
      double mean = sum / static_cast<double>(bins_per_column);
      double db = mean > 0.0 ? 10.0 * std::log10(mean / floor_power) : DARKEST_DB;
      put_pixel(canvas, SPECTROGRAM_LEFT_MARGIN + column, SPECTROGRAM_TOP_MARGIN + static_cast<int>(row),
                heat_colour((db - DARKEST_DB) / (top_db - DARKEST_DB)));
    }
  }
}

void draw_centred_label(RgbCanvas canvas, int centre_x, int y, const char* text, Rgb colour) {
  draw_text(canvas, centre_x - text_width(text, LABEL_SCALE) / 2, y, text, LABEL_SCALE, colour);
}

void draw_frequency_scale(RgbCanvas canvas) {
  for (double hz = -SCALE_LIMIT_HZ; hz <= SCALE_LIMIT_HZ; hz += SCALE_TICK_STEP_HZ) {
    int x = spectrogram_column(hz);
    bool labelled = std::fmod(std::fabs(hz), SCALE_LABEL_STEP_HZ) == 0.0;
    for (int y = labelled ? 13 : 15; y < 18; ++y) put_pixel(canvas, x, y, AXIS_COLOUR);
    if (!labelled) continue;
    char text[16];
    std::snprintf(text, sizeof text, hz == 0.0 ? "0" : "%.0fk", hz / 1000.0);
    draw_centred_label(canvas, x, 2, text, AXIS_COLOUR);
  }
}

void draw_channel_marks(RgbCanvas canvas, std::span<const FoundChannel> channels) {
  for (const FoundChannel& channel : channels) {
    int x = spectrogram_column(channel.offset_hz);
    char text[32];
    // Whole hundreds of hertz, so that a channel just below 0 Hz reads "0.0k", not "-0.0k".
    long hundreds_hz = std::lround(channel.offset_hz / 100.0);
    std::snprintf(text, sizeof text, "%s%ld.%ldk", hundreds_hz < 0 ? "-" : "", std::labs(hundreds_hz) / 10,
                  std::labs(hundreds_hz) % 10);
    draw_centred_label(canvas, x, 20, text, CHANNEL_COLOUR);
    for (int y = 32; y < SPECTROGRAM_TOP_MARGIN - 1; ++y) {
      put_pixel(canvas, x, y, CHANNEL_COLOUR);
      put_pixel(canvas, x + 1, y, CHANNEL_COLOUR);
    }
  }
}

// Seconds at the left, as far apart as the rows allow.
void draw_time_scale(RgbCanvas canvas, const CaptureSpectrum& spectrum) {
  constexpr double STEPS_S[] = {0.05, 0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0};
  double step_s = STEPS_S[std::size(STEPS_S) - 1];
  for (double candidate : STEPS_S) {
    if (candidate / spectrum.seconds_per_row >= MIN_TIME_LABEL_SPACING) {
      step_s = candidate;
      break;
    }
  }
  double total_s = spectrum.seconds_per_row * static_cast<double>(spectrum.row_count);
  for (int i = 0; i * step_s < total_s; ++i) {
    double seconds = i * step_s;
    int y = SPECTROGRAM_TOP_MARGIN + static_cast<int>(std::lround(seconds / spectrum.seconds_per_row));
    for (int x = SPECTROGRAM_LEFT_MARGIN - 4; x < SPECTROGRAM_LEFT_MARGIN; ++x) put_pixel(canvas, x, y, AXIS_COLOUR);
    char text[16];
    std::snprintf(text, sizeof text, "%gs", seconds);
    int width = text_width(text, LABEL_SCALE);
    draw_text(canvas, SPECTROGRAM_LEFT_MARGIN - 6 - width, y, text, LABEL_SCALE, AXIS_COLOUR);
  }
}

}  // namespace

int spectrogram_column(double offset_hz) {
  double fraction = (offset_hz + IQ_SAMPLE_RATE / 2.0) / IQ_SAMPLE_RATE;
  return SPECTROGRAM_LEFT_MARGIN + static_cast<int>(std::floor(fraction * SPECTROGRAM_PLOT_WIDTH));
}

SpectrogramImage render_spectrogram(const CaptureSpectrum& spectrum, double floor_power,
                                    std::span<const FoundChannel> channels) {
  SpectrogramImage image;
  image.width = SPECTROGRAM_LEFT_MARGIN + SPECTROGRAM_PLOT_WIDTH;
  image.height = SPECTROGRAM_TOP_MARGIN + static_cast<int>(spectrum.row_count);
  image.rgb.assign(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3, 0);
  RgbCanvas canvas{image.rgb.data(), image.width, image.height};
  draw_plot(canvas, spectrum, floor_power);
  draw_frequency_scale(canvas);
  draw_channel_marks(canvas, channels);
  draw_time_scale(canvas, spectrum);
  return image;
}

}  // namespace kdsp
