// kdsp-scan: lists the narrowband FM channels in a capture, strongest first,
// so that a user knows which offset to give a kernel; optionally draws a
// spectrogram.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "base/output_file.h"
#include "base/result_code.h"
#include "channel_finder.h"
#include "common/command_line.h"
#include "formats/iq_capture.h"
#include "png_encode.h"
#include "spectrogram_image.h"
#include "spectrum.h"

namespace kdsp {

namespace {

constexpr std::int64_t DEFAULT_MAX_CHANNELS = 10;

struct ScanOptions {
  std::string capture_path;
  std::string png_path;  // empty: no picture
  double threshold_db = DEFAULT_THRESHOLD_DB;
  std::int64_t max_channels = DEFAULT_MAX_CHANNELS;
};

constexpr ToolHelp SCAN_HELP{
    "kdsp-scan",
    "[options] CAPTURE.iq",
    "Lists the strongest narrowband FM channels in a capture (float32 I/Q pairs at\n"
    "240000 pairs per second), strongest first, one line each:\n"
    "  offset_hz  offset from the capture's centre, to give a kernel\n"
    "  level_db   strongest spectral bin over the noise floor\n"
    "  cnr_db     channel power over the noise in 27 kHz\n"
    "  width_hz   bandwidth holding 99 % of the channel's power\n"
    "  spectrum   sketch from -16 to +16 kHz around the channel, 1 kHz a character\n"
    "Lines starting with '#' are comments.",
    "Exit status: 0 success (also when nothing is found); 1 unreadable or invalid\n"
    "capture, or the report or picture cannot be written; 2 a usage error.",
};

void add_scan_options(CLI::App& app, ScanOptions* options) {
  add_path_option(app, "CAPTURE.iq", &options->capture_path)
      ->required()
      ->type_name("")
      ->description("the capture to scan");
  add_path_option(app, "--png", &options->png_path)
      ->type_name("FILE")
      ->description("also write a spectrogram: time down,\nfrequency across");
  add_real_option(app, "--threshold", &options->threshold_db, 3.0, 60.0, "dB from 3 to 60")
      ->type_name("DB")
      ->description("how far above the noise floor a channel must reach,\n3 to 60 (default 10)");
  add_integer_option(app, "--max", &options->max_channels, 1, 100, "a count from 1 to 100")
      ->type_name("N")
      ->description("list at most N channels, 1 to 100 (default 10)");
}

// printf onto the end of `text`.
__attribute__((format(printf, 2, 3))) void append_printf(std::string* text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length > 0) {
    const std::size_t old_size = text->size();
    text->resize(old_size + static_cast<std::size_t>(length) + 1);
    std::vsnprintf(text->data() + old_size, static_cast<std::size_t>(length) + 1, format, args);
    text->resize(old_size + static_cast<std::size_t>(length));
  }
  va_end(args);
}

int fail(const std::string& message) {
  std::fprintf(stderr, "kdsp-scan: %s\n", message.c_str());
  return EXIT_TOOL_FAILED;
}

std::string channel_report(const ScanOptions& options, std::size_t pair_count, const CaptureSpectrum& spectrum,
                           double floor_power, const std::vector<FoundChannel>& channels) {
  std::string report;
  append_printf(&report, "# %s: %.3f s (%zu pairs), noise floor %.1f dB per %.1f Hz bin, threshold %.1f dB\n",
                options.capture_path.c_str(), static_cast<double>(pair_count) / IQ_SAMPLE_RATE, pair_count,
                10.0 * std::log10(floor_power), spectrum.bin_hz, options.threshold_db);
  if (channels.empty()) {
    append_printf(&report, "# no channel found %.1f dB above the noise floor\n", options.threshold_db);
    return report;
  }
  append_printf(&report, "# offset_hz  level_db  cnr_db  width_hz  spectrum -%d..+%d kHz\n", SKETCH_HALF_WIDTH_KHZ,
                SKETCH_HALF_WIDTH_KHZ);
  std::size_t shown = std::min(channels.size(), static_cast<std::size_t>(options.max_channels));
  for (std::size_t i = 0; i < shown; ++i) {
    const FoundChannel& channel = channels[i];
    append_printf(&report, "%11ld  %8.1f  %6.1f  %8.0f  |%s|\n", std::lround(channel.offset_hz), channel.level_db,
                  channel.cnr_db, channel.bandwidth_hz, channel_sketch(spectrum, floor_power, channel).c_str());
  }
  return report;
}

int write_png(const std::string& path, const CaptureSpectrum& spectrum, double floor_power,
              const std::vector<FoundChannel>& channels) {
  std::string error;
  std::vector<std::uint8_t> png;
  if (encode_png(render_spectrogram(spectrum, floor_power, channels), &png, &error) != 0) return fail(error);
  if (write_output(path.c_str(), png.data(), png.size()) != 0) return fail("cannot write '" + path + "'");
  return 0;
}

// The capture through the core tool's own loader, so that the scan accepts
// exactly the captures kdsp accepts (and refuses a FIFO instead of waiting).
struct LoadedCapture {
  IqCapture capture{};
  ~LoadedCapture() { release_iq_capture(&capture); }
};

int run(const ScanOptions& options) {
  auto loaded = std::make_unique<LoadedCapture>();
  IqCapture& capture = loaded->capture;
  const ResultCode load_result = load_iq_capture(options.capture_path.c_str(), &capture);
  if (load_result != ResultCode::OK) {
    return fail("capture '" + options.capture_path + "' " +
                (load_result == ResultCode::IO_ERROR ? "does not fit in memory"
                                                     : "cannot be read, is not whole 8-byte I/Q pairs (1 to 7200000), "
                                                       "or holds a value that is not a finite number"));
  }
  const std::size_t pair_count = capture.pair_count;
  if (pair_count < MIN_SCAN_PAIRS) {
    return fail("capture '" + options.capture_path + "' is too short to scan: " + std::to_string(pair_count) +
                " pairs, at least " + std::to_string(MIN_SCAN_PAIRS) + " needed");
  }
  CaptureSpectrum spectrum = analyse_capture(std::span<const float>(capture.samples, 2 * pair_count));
  loaded.reset();  // the samples are not needed past the spectrum
  double floor_power = noise_floor_power(spectrum.average_power);
  std::vector<FoundChannel> channels = find_channels(spectrum, floor_power, options.threshold_db);
  // A report lost on the way (a full disk behind standard output) is a failure, not a success.
  const std::string report = channel_report(options, pair_count, spectrum, floor_power, channels);
  if (write_output(nullptr, reinterpret_cast<const std::uint8_t*>(report.data()), report.size()) != 0) {
    return fail("cannot write the report");
  }
  if (!options.png_path.empty()) return write_png(options.png_path, spectrum, floor_power, channels);
  return 0;
}

}  // namespace

int run_program(int argc, char** argv) {
  CLI::App app;
  configure_tool_app(app, SCAN_HELP);
  ScanOptions options;
  add_scan_options(app, &options);
  int exit_status = 0;
  if (!parse_tool_command_line(app, argc, argv, &exit_status)) return exit_status;
  return run(options);  // running out of memory is caught by run_tool_main
}

}  // namespace kdsp

int main(int argc, char** argv) { return kdsp::run_tool_main("kdsp-scan", kdsp::run_program, argc, argv); }
