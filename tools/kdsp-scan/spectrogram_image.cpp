#include "kdsp-scan/spectrogram_image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "kdsp-scan/tiny_font.h"

namespace kdsp {

namespace {

constexpr int LABEL_SCALE = 2;
constexpr int LABEL_HEIGHT = GLYPH_HEIGHT * LABEL_SCALE;
constexpr int MIN_LABEL_GAP = 16;
constexpr Rgb TEXT_COLOUR{230, 230, 230};
constexpr Rgb AXIS_COLOUR{200, 200, 200};
constexpr Rgb CHANNEL_COLOUR{255, 230, 0};
// Rows of the frame above the plot.
constexpr int TITLE_Y = 6;
constexpr int SCALE_LABEL_Y = 26;
constexpr int SCALE_TICK_Y = 38;
constexpr int CHANNEL_LABEL_Y = 46;  // and a second row below it
constexpr int CHANNEL_LABEL_ROWS = 2;
constexpr int CHANNEL_MARK_Y = 70;
// Colours span from just below the noise floor to at least this far above it.
constexpr double DARKEST_DB = -3.0;
constexpr double MIN_BRIGHTEST_DB = 30.0;
constexpr double COLOUR_BAR_STEP_DB = 10.0;
constexpr int MIN_TIME_LABEL_SPACING = 24;
// Below this rate the scale is in Hz, from it in kHz.
constexpr double KHZ_SCALE_MIN_RATE = 20000.0;

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

struct ColourScale {
  double floor_power;
  double top_db;
};

double level_of(const ColourScale& scale, double db) { return (db - DARKEST_DB) / (scale.top_db - DARKEST_DB); }

ColourScale colour_scale(const CaptureSpectrum& spectrum, double floor_power) {
  double peak = *std::max_element(spectrum.row_power.begin(), spectrum.row_power.end());
  double top_db = peak > 0.0 && floor_power > 0.0 ? 10.0 * std::log10(peak / floor_power) : 0.0;
  return {floor_power, std::max(MIN_BRIGHTEST_DB, top_db)};
}

void draw_plot(RgbCanvas canvas, const CaptureSpectrum& spectrum, const ColourScale& scale) {
  for (std::size_t row = 0; row < spectrum.row_count; ++row) {
    const double* power = spectrum.row_power.data() + row * spectrum.row_bins;
    for (int column = 0; column < SPECTROGRAM_PLOT_WIDTH; ++column) {
      double mean = power[column];
      double db = mean > 0.0 && scale.floor_power > 0.0 ? 10.0 * std::log10(mean / scale.floor_power) : DARKEST_DB;
      put_pixel(canvas, SPECTROGRAM_LEFT_MARGIN + column, SPECTROGRAM_TOP_MARGIN + static_cast<int>(row),
                heat_colour(level_of(scale, db)));
    }
  }
}

void draw_centred_label(RgbCanvas canvas, int centre_x, int y, const std::string& text, Rgb colour) {
  draw_text(canvas, centre_x - text_width(text, LABEL_SCALE) / 2, y, text, LABEL_SCALE, colour);
}

// The frequency scale: its unit, the tick step and the digits after the point.
struct FrequencyScale {
  double base_hz;  // the frequency at the centre of the band: the centre, or 0 for offsets
  double unit_hz;
  const char* unit;
  double step_hz;
  int decimals;
};

std::string frequency_label(const FrequencyScale& scale, double hz) {
  double value = hz / scale.unit_hz;
  // No "-0" for a value that rounds to zero.
  if (std::fabs(value) < 0.5 * std::pow(10.0, -scale.decimals)) value = 0.0;
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", scale.decimals, value);
  return text;
}

// The finest 1-2-5 step whose labels stand apart.
FrequencyScale choose_frequency_scale(double sample_rate, std::optional<double> centre_hz) {
  FrequencyScale scale{centre_hz.value_or(0.0), 1000.0, "kHz", 0.0, 0};
  if (sample_rate < KHZ_SCALE_MIN_RATE) {
    scale.unit_hz = 1.0;
    scale.unit = "Hz";
  }
  const double pixels_per_hz = SPECTROGRAM_PLOT_WIDTH / sample_rate;
  for (double decade = std::pow(10.0, std::floor(std::log10(sample_rate / 100.0)));; decade *= 10.0) {
    for (double mantissa : {1.0, 2.0, 5.0}) {
      scale.step_hz = mantissa * decade;
      scale.decimals = std::max(0, static_cast<int>(std::ceil(-std::log10(scale.step_hz / scale.unit_hz) - 1e-9)));
      const double widest_hz = std::fabs(scale.base_hz) + sample_rate / 2.0;
      const int widest = text_width("-" + frequency_label(scale, widest_hz), LABEL_SCALE);
      if (scale.step_hz * pixels_per_hz >= widest + MIN_LABEL_GAP) return scale;
    }
  }
}

void draw_frequency_scale(RgbCanvas canvas, const FrequencyScale& scale, double sample_rate) {
  draw_text(canvas, SPECTROGRAM_LEFT_MARGIN - 6 - text_width(scale.unit, LABEL_SCALE), SCALE_LABEL_Y, scale.unit,
            LABEL_SCALE, TEXT_COLOUR);
  const double low = scale.base_hz - sample_rate / 2.0;
  const double high = scale.base_hz + sample_rate / 2.0;
  for (auto i = static_cast<long long>(std::ceil(low / scale.step_hz)); static_cast<double>(i) * scale.step_hz < high;
       ++i) {
    const double hz = static_cast<double>(i) * scale.step_hz;
    const int x = spectrogram_column(hz - scale.base_hz, sample_rate);
    for (int y = SCALE_TICK_Y; y < SCALE_TICK_Y + 5; ++y) put_pixel(canvas, x, y, AXIS_COLOUR);
    const std::string text = frequency_label(scale, hz);
    const int width = text_width(text, LABEL_SCALE);
    // Only labels wholly inside the plot's span.
    if (x - width / 2 < SPECTROGRAM_LEFT_MARGIN - 4 ||
        x + width / 2 > SPECTROGRAM_LEFT_MARGIN + SPECTROGRAM_PLOT_WIDTH + SPECTROGRAM_RIGHT_MARGIN) {
      continue;
    }
    draw_centred_label(canvas, x, SCALE_LABEL_Y, text, TEXT_COLOUR);
  }
}

// Marks every channel and labels it on the first of the label rows where the
// label does not run into the one before it (a label finding no room is left
// out: channels a few pixels apart share one label's room).
void draw_channel_marks(RgbCanvas canvas, const FrequencyScale& scale, double sample_rate,
                        std::span<const FoundChannel> channels) {
  std::vector<const FoundChannel*> by_frequency;
  for (const FoundChannel& channel : channels) by_frequency.push_back(&channel);
  std::sort(by_frequency.begin(), by_frequency.end(),
            [](const FoundChannel* a, const FoundChannel* b) { return a->offset_hz < b->offset_hz; });
  FrequencyScale channel_scale = scale;
  channel_scale.decimals = scale.unit_hz > 1.0 ? 1 : 0;
  int free_from_x[CHANNEL_LABEL_ROWS] = {};
  for (const FoundChannel* channel : by_frequency) {
    const int x = spectrogram_column(channel->offset_hz, sample_rate);
    for (int y = CHANNEL_MARK_Y; y < SPECTROGRAM_TOP_MARGIN - 1; ++y) {
      put_pixel(canvas, x, y, CHANNEL_COLOUR);
      put_pixel(canvas, x + 1, y, CHANNEL_COLOUR);
    }
    const std::string text = frequency_label(channel_scale, scale.base_hz + channel->offset_hz);
    const int width = text_width(text, LABEL_SCALE);
    const int left = x - width / 2;
    for (int row = 0; row < CHANNEL_LABEL_ROWS; ++row) {
      if (left < free_from_x[row]) continue;
      draw_text(canvas, left, CHANNEL_LABEL_Y + row * (LABEL_HEIGHT + 2), text, LABEL_SCALE, CHANNEL_COLOUR);
      free_from_x[row] = left + width + LABEL_SCALE * 4;
      break;
    }
  }
}

// Seconds at the left, as far apart as the rows allow.
void draw_time_scale(RgbCanvas canvas, const CaptureSpectrum& spectrum) {
  constexpr double STEPS_S[] = {0.01, 0.02, 0.05, 0.1,  0.2,  0.5,  1.0,   2.0,   5.0,   10.0,
                                20.0, 30.0, 60.0, 120., 300., 600., 1200., 1800., 3600., 7200.};
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
    char text[24];
    std::snprintf(text, sizeof text, "%gs", seconds);
    int width = text_width(text, LABEL_SCALE);
    draw_text(canvas, SPECTROGRAM_LEFT_MARGIN - 6 - width, y, text, LABEL_SCALE, TEXT_COLOUR);
  }
}

// The colours from the darkest to the brightest level, with a scale in dB
// over the noise floor below them.
void draw_colour_bar(RgbCanvas canvas, const ColourScale& scale, int top) {
  const int left = SPECTROGRAM_LEFT_MARGIN;
  for (int i = 0; i < SPECTROGRAM_COLOUR_BAR_WIDTH; ++i) {
    const Rgb colour = heat_colour(static_cast<double>(i) / (SPECTROGRAM_COLOUR_BAR_WIDTH - 1));
    for (int y = top; y < top + SPECTROGRAM_COLOUR_BAR_HEIGHT; ++y) put_pixel(canvas, left + i, y, colour);
  }
  const double step_db = scale.top_db > 60.0 ? 2 * COLOUR_BAR_STEP_DB : COLOUR_BAR_STEP_DB;
  for (double db = 0.0; db <= scale.top_db; db += step_db) {
    const int x = left + static_cast<int>(std::lround(level_of(scale, db) * (SPECTROGRAM_COLOUR_BAR_WIDTH - 1)));
    for (int y = top + SPECTROGRAM_COLOUR_BAR_HEIGHT; y < top + SPECTROGRAM_COLOUR_BAR_HEIGHT + 3; ++y) {
      put_pixel(canvas, x, y, AXIS_COLOUR);
    }
    char text[16];
    std::snprintf(text, sizeof text, "%.0f", db);
    draw_centred_label(canvas, x, top + SPECTROGRAM_COLOUR_BAR_HEIGHT + 5, text, TEXT_COLOUR);
  }
  draw_text(canvas, left + SPECTROGRAM_COLOUR_BAR_WIDTH + 24, top, "dB OVER THE NOISE FLOOR", LABEL_SCALE, TEXT_COLOUR);
}

std::string file_name_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void draw_title(RgbCanvas canvas, const SpectrogramView& view) {
  char details[96];
  std::snprintf(details, sizeof details, "   %.3f s   %.10g S/s", view.duration_s, view.spectrum->sample_rate);
  std::string text = file_name_of(view.name) + details;
  if (view.centre_hz) {
    char centre[48];
    std::snprintf(centre, sizeof centre, "   CENTRE %.3f kHz", *view.centre_hz / 1000.0);
    text += centre;
  }
  // Cut to the picture's width.
  const int room = canvas.width - SPECTROGRAM_LEFT_MARGIN;
  while (!text.empty() && text_width(text, LABEL_SCALE) > room) text.pop_back();
  draw_text(canvas, SPECTROGRAM_LEFT_MARGIN, TITLE_Y, text, LABEL_SCALE, TEXT_COLOUR);
}

}  // namespace

int spectrogram_column(double offset_hz, double sample_rate) {
  double fraction = (offset_hz + sample_rate / 2.0) / sample_rate;
  return SPECTROGRAM_LEFT_MARGIN + static_cast<int>(std::floor(fraction * SPECTROGRAM_PLOT_WIDTH));
}

RgbImage render_spectrogram(const SpectrogramView& view) {
  const CaptureSpectrum& spectrum = *view.spectrum;
  RgbImage image;
  image.width = SPECTROGRAM_LEFT_MARGIN + SPECTROGRAM_PLOT_WIDTH + SPECTROGRAM_RIGHT_MARGIN;
  image.height = SPECTROGRAM_TOP_MARGIN + static_cast<int>(spectrum.row_count) + SPECTROGRAM_BOTTOM_MARGIN;
  image.rgb.assign(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3, 0);
  RgbCanvas canvas{image.rgb.data(), image.width, image.height};
  const ColourScale colours = colour_scale(spectrum, view.floor_power);
  const FrequencyScale frequencies = choose_frequency_scale(spectrum.sample_rate, view.centre_hz);
  draw_title(canvas, view);
  draw_frequency_scale(canvas, frequencies, spectrum.sample_rate);
  draw_channel_marks(canvas, frequencies, spectrum.sample_rate, view.channels);
  draw_plot(canvas, spectrum, colours);
  draw_time_scale(canvas, spectrum);
  draw_colour_bar(canvas, colours, SPECTROGRAM_TOP_MARGIN + static_cast<int>(spectrum.row_count) + 10);
  return image;
}

}  // namespace kdsp
