// kdsp-scan: lists the narrowband FM channels in a capture, strongest first,
// so that a user knows which offset to give a kernel; optionally draws a
// spectrogram.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>

#include "channel_finder.h"
#include "common/atomic_output.h"
#include "common/capture_file.h"
#include "formats/iq_capture.h"
#include "base/result_code.h"
#include "common/option_value.h"
#include "png_encode.h"
#include "spectrogram_image.h"
#include "spectrum.h"

namespace kdsp {

namespace {

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_BAD_OPTIONS = 2;
constexpr std::int64_t DEFAULT_MAX_CHANNELS = 10;

struct ScanOptions {
  std::string capture_path;
  std::string png_path;  // empty: no picture
  double threshold_db = DEFAULT_THRESHOLD_DB;
  std::int64_t max_channels = DEFAULT_MAX_CHANNELS;
};

const char* scan_usage() {
  return R"(usage: kdsp-scan [options] CAPTURE.iq

Lists the strongest narrowband FM channels in a capture (float32 I/Q pairs at
240000 pairs per second), strongest first, one line each:
  offset_hz  offset from the capture's centre, to give a kernel
  level_db   strongest spectral bin over the noise floor
  cnr_db     channel power over the noise in 27 kHz
  width_hz   bandwidth holding 99 % of the channel's power
  spectrum   sketch from -16 to +16 kHz around the channel, 1 kHz a character
Lines starting with '#' are comments.

Options:
  --png FILE        also write a spectrogram: time down, frequency across
  --threshold DB    how far above the noise floor a channel must reach,
                    3 to 60 (default 10)
  --max N           list at most N channels, 1 to 100 (default 10)
  -h, --help        show this text

Exit status: 0 success (also when nothing is found), 1 unreadable or invalid
capture or unwritable picture, 2 bad options.
)";
}

enum ScanParseResult : int { SCAN_PARSE_OK = 0, SCAN_PARSE_HELP = 1, SCAN_PARSE_ERROR = 2 };

int parse_scan_options(int argc, char** argv, ScanOptions* options, std::string* error) {
  ScanOptions parsed;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) return SCAN_PARSE_HELP;
    bool takes_value = std::strcmp(arg, "--png") == 0 || std::strcmp(arg, "--threshold") == 0 ||
                       std::strcmp(arg, "--max") == 0;
    if (takes_value) {
      if (i + 1 >= argc) {
        *error = std::string("option ") + arg + " needs a value";
        return SCAN_PARSE_ERROR;
      }
      const char* value = argv[++i];
      bool good = true;
      if (std::strcmp(arg, "--png") == 0) {
        parsed.png_path = value;
        good = value[0] != '\0';
      } else if (std::strcmp(arg, "--threshold") == 0) {
        good = parse_real_option(value, 3.0, 60.0, &parsed.threshold_db) == 0;
      } else {
        good = parse_integer_option(value, 1, 100, &parsed.max_channels) == 0;
      }
      if (!good) {
        *error = std::string("bad value '") + value + "' for " + arg;
        return SCAN_PARSE_ERROR;
      }
    } else if (arg[0] == '-' || arg[0] == '\0') {
      *error = std::string("unknown option '") + arg + "'";
      return SCAN_PARSE_ERROR;
    } else if (!parsed.capture_path.empty()) {
      *error = "more than one capture given";
      return SCAN_PARSE_ERROR;
    } else {
      parsed.capture_path = arg;
    }
  }
  if (parsed.capture_path.empty()) {
    *error = "no capture given";
    return SCAN_PARSE_ERROR;
  }
  *options = std::move(parsed);
  return SCAN_PARSE_OK;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "kdsp-scan: %s\n", message.c_str());
  return EXIT_FAILED;
}

void print_channels(const ScanOptions& options, std::size_t pair_count, const CaptureSpectrum& spectrum,
                    double floor_power, const std::vector<FoundChannel>& channels) {
  std::printf("# %s: %.3f s (%zu pairs), noise floor %.1f dB per %.1f Hz bin, threshold %.1f dB\n",
              options.capture_path.c_str(), static_cast<double>(pair_count) / IQ_SAMPLE_RATE, pair_count,
              10.0 * std::log10(floor_power), spectrum.bin_hz, options.threshold_db);
  if (channels.empty()) {
    std::printf("# no channel found %.1f dB above the noise floor\n", options.threshold_db);
    return;
  }
  std::printf("# offset_hz  level_db  cnr_db  width_hz  spectrum -%d..+%d kHz\n", SKETCH_HALF_WIDTH_KHZ,
              SKETCH_HALF_WIDTH_KHZ);
  std::size_t shown = std::min(channels.size(), static_cast<std::size_t>(options.max_channels));
  for (std::size_t i = 0; i < shown; ++i) {
    const FoundChannel& channel = channels[i];
    std::printf("%11ld  %8.1f  %6.1f  %8.0f  |%s|\n", std::lround(channel.offset_hz), channel.level_db, channel.cnr_db,
                channel.bandwidth_hz, channel_sketch(spectrum, floor_power, channel).c_str());
  }
}

int write_png(const std::string& path, const CaptureSpectrum& spectrum, double floor_power,
              const std::vector<FoundChannel>& channels) {
  std::string error;
  std::vector<std::uint8_t> png;
  if (encode_png(render_spectrogram(spectrum, floor_power, channels), &png, &error) != 0) return fail(error);
  AtomicOutput out;
  int failure = atomic_output_open(path.c_str(), &out);
  if (failure == 0) failure = atomic_output_write(out, png);
  if (failure == 0) failure = atomic_output_commit(out);
  if (failure != 0) return fail("cannot write '" + path + "': " + std::strerror(failure));
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
  print_channels(options, pair_count, spectrum, floor_power, channels);
  std::fflush(stdout);
  if (!options.png_path.empty()) return write_png(options.png_path, spectrum, floor_power, channels);
  return 0;
}

}  // namespace

int run_program(int argc, char** argv) {
  ScanOptions options;
  std::string error;
  switch (parse_scan_options(argc, argv, &options, &error)) {
    case SCAN_PARSE_HELP: std::fputs(scan_usage(), stdout); return 0;
    case SCAN_PARSE_OK: break;
    default:
      std::fprintf(stderr, "kdsp-scan: %s\nTry 'kdsp-scan --help'.\n", error.c_str());
      return EXIT_BAD_OPTIONS;
  }
  try {
    return run(options);
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  }
}

}  // namespace kdsp

int main(int argc, char** argv) { return kdsp::run_program(argc, argv); }
