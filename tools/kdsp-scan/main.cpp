// kdsp-scan: lists the narrowband FM channels in a recording, strongest
// first, so that a user knows which frequency or offset to give kdsp-rx or a
// kernel; optionally draws a spectrogram. Reads every recording kdsp-rx
// reads, with the same reader, streamed in blocks.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <span>
#include <string>

#include "base/output_file.h"
#include "common/recording_options.h"
#include "common/tool_main.h"
#include "kdsp-scan/spectrogram_image.h"
#include "radio/io/png_encode.h"
#include "radio/io/recording.h"
#include "radio/io/regular_file.h"
#include "radio/spectrum/channel_finder.h"
#include "radio/spectrum/recording_spectrum.h"
#include "radio/spectrum/spectrum.h"

namespace kdsp {

namespace {

constexpr std::int64_t DEFAULT_MAX_CHANNELS = 10;

struct ScanOptions {
  RecordingRequest recording;
  std::string png_path;  // empty: no picture
  double threshold_db = DEFAULT_THRESHOLD_DB;
  std::int64_t max_channels = DEFAULT_MAX_CHANNELS;
};

constexpr ToolHelp SCAN_HELP{
    "kdsp-scan",
    "[options] RECORDING",
    "Lists the strongest narrowband FM channels in a radio recording, strongest\n"
    "first, one line each:\n"
    "  freq_hz    the channel's frequency, when the recording's centre is known\n"
    "             (SigMF metadata or --center); else offset_hz, its offset\n"
    "             from the centre\n"
    "  level_db   strongest spectral bin over the noise floor\n"
    "  cnr_db     channel power over the noise in 27 kHz\n"
    "  width_hz   bandwidth holding 99 % of the channel's power\n"
    "  offset_hz  (after freq_hz) the offset from the centre\n"
    "  spectrum   sketch from -16 to +16 kHz around the channel, 1 kHz a character\n"
    "Lines starting with '#' are comments. Reads the recordings kdsp-rx reads, in\n"
    "blocks, so any length fits in memory; give a raw file's rate with --rate.\n"
    "The receiver's own line at 0 Hz offset is not listed.",
    "Exit status: 0 success (also when nothing is found); 1 unreadable or invalid\n"
    "recording, or the report or picture cannot be written; 2 a usage error.",
};

void add_scan_options(CLI::App& app, ScanOptions* options) {
  add_recording_argument(app, &options->recording);
  add_recording_format_options(app, &options->recording, "(frequencies\nin the report and the picture)");
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

double duration_s(const RecordingInfo& recording) {
  return static_cast<double>(recording.pair_count) / recording.sample_rate;
}

std::string channel_report(const ScanOptions& options, const RecordingInfo& recording, const CaptureSpectrum& spectrum,
                           double floor_power, const std::vector<FoundChannel>& channels) {
  std::string report;
  append_printf(&report, "# %s: %s, %.3f s (%llu pairs)", recording.path.c_str(), recording.description.c_str(),
                duration_s(recording), static_cast<unsigned long long>(recording.pair_count));
  if (recording.centre_hz) append_printf(&report, ", centre %.0f Hz", *recording.centre_hz);
  report += "\n";
  for (const DropoutSpan& span : spectrum.dropouts) {
    append_printf(&report, "# %s\n", dropout_text(span, recording.sample_rate).c_str());
  }
  if (spectrum.frame_count == 0) {
    report += "# no noise floor: every pair is the same (zeros, a constant or a clipped receiver), no channel\n";
    return report;
  }
  append_printf(&report, "# noise floor %.1f dB per %.1f Hz bin, threshold %.1f dB\n", 10.0 * std::log10(floor_power),
                spectrum.bin_hz, options.threshold_db);
  if (channels.empty()) {
    append_printf(&report, "# no channel found %.1f dB above the noise floor\n", options.threshold_db);
    return report;
  }
  if (recording.centre_hz) {
    append_printf(&report, "#     freq_hz  level_db  cnr_db  width_hz  offset_hz  spectrum -%d..+%d kHz\n",
                  SKETCH_HALF_WIDTH_KHZ, SKETCH_HALF_WIDTH_KHZ);
  } else {
    append_printf(&report, "# offset_hz  level_db  cnr_db  width_hz  spectrum -%d..+%d kHz\n", SKETCH_HALF_WIDTH_KHZ,
                  SKETCH_HALF_WIDTH_KHZ);
  }
  std::size_t shown = std::min(channels.size(), static_cast<std::size_t>(options.max_channels));
  for (std::size_t i = 0; i < shown; ++i) {
    const FoundChannel& channel = channels[i];
    const std::string sketch = channel_sketch(spectrum, floor_power, channel);
    if (recording.centre_hz) {
      append_printf(&report, "%13.0f  %8.1f  %6.1f  %8.0f  %9ld  |%s|\n", *recording.centre_hz + channel.offset_hz,
                    channel.level_db, channel.cnr_db, channel.bandwidth_hz, std::lround(channel.offset_hz),
                    sketch.c_str());
    } else {
      append_printf(&report, "%11ld  %8.1f  %6.1f  %8.0f  |%s|\n", std::lround(channel.offset_hz), channel.level_db,
                    channel.cnr_db, channel.bandwidth_hz, sketch.c_str());
    }
  }
  return report;
}

int write_png(const std::string& path, const SpectrogramView& view, Failure* failure) {
  std::vector<std::uint8_t> png;
  if (encode_png(render_spectrogram(view), &png, failure) != 0) return -1;
  if (write_output(path.c_str(), png.data(), png.size()) != 0) {
    *failure = Failure{"cannot write '" + path + "'", "", path, FailureKind::OUTPUT};
    return -1;
  }
  return 0;
}

// The recording's spectrum, streamed through in blocks.
int scan_spectrum(const RecordingInfo& recording, bool with_rows, CaptureSpectrum* spectrum, Failure* failure) {
  const std::size_t fft_size = scan_fft_size(recording.sample_rate);
  if (recording.pair_count < min_scan_pairs(fft_size)) {
    *failure = Failure{"'" + recording.path + "' is too short to scan: " + std::to_string(recording.pair_count) +
                           " pairs, at least " + std::to_string(min_scan_pairs(fft_size)) + " needed at its rate",
                       "", recording.path};
    return -1;
  }
  RecordingReader reader;
  if (open_recording_reader(recording, &reader, failure) != 0) return -1;
  SpectrumAccumulator accumulator;
  if (start_spectrum(&accumulator, recording.sample_rate, fft_size, recording.pair_count,
                     with_rows ? MAX_SPECTROGRAM_ROWS : 0) != 0) {
    *failure = Failure{"out of memory"};
    return -1;
  }
  if (add_recording_stretch(reader, 0, recording.pair_count, &accumulator, failure) != 0) return -1;
  *spectrum = finish_spectrum(&accumulator);
  return 0;
}

int run(const ScanOptions& options, Failure* failure) {
  RecordingInfo recording;
  if (describe_recording(options.recording, &recording, failure) != 0) return -1;
  if (!options.png_path.empty() &&
      (same_file(options.png_path, recording.path) || same_file(options.png_path, recording.data_path))) {
    *failure = Failure{"--png '" + options.png_path + "' is the recording itself", "give another file for the picture",
                       options.png_path};
    return -1;
  }
  CaptureSpectrum spectrum;
  if (scan_spectrum(recording, !options.png_path.empty(), &spectrum, failure) != 0) return -1;
  double floor_power = noise_floor_power(spectrum.average_power, spectrum.frame_count);
  std::vector<FoundChannel> channels = find_channels(spectrum, floor_power, options.threshold_db);
  // A report lost on the way (a full disk behind standard output) is a failure, not a success.
  const std::string report = channel_report(options, recording, spectrum, floor_power, channels);
  if (write_output(nullptr, reinterpret_cast<const std::uint8_t*>(report.data()), report.size()) != 0) {
    *failure = Failure{"cannot write the report", "", "", FailureKind::OUTPUT};
    return -1;
  }
  if (options.png_path.empty()) return 0;
  channels.resize(std::min(channels.size(), static_cast<std::size_t>(options.max_channels)));
  SpectrogramView view{&spectrum, floor_power, channels, recording.centre_hz, recording.path, duration_s(recording)};
  return write_png(options.png_path, view, failure);
}

constexpr ToolDefinition<ScanOptions> SCAN_TOOL{SCAN_HELP, add_scan_options, nullptr, run};

}  // namespace

}  // namespace kdsp

int main(int argc, char** argv) { return kdsp::run_tool(kdsp::SCAN_TOOL, argc, argv); }
