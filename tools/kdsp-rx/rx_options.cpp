#include "kdsp-rx/rx_options.h"

#include <cstring>

#include "common/option_value.h"
#include "kdsp-rx/front_end.h"

namespace kdsp {

namespace {

constexpr double MAX_FREQUENCY_HZ = 1e12;

int bad_value(const std::string& name, const std::string& value, const char* expected, std::string* error) {
  *error = "bad value '" + value + "' for " + name + ": expected " + expected;
  return -1;
}

int parse_frequency(const std::string& name, const std::string& value, double min_value, const char* expected,
                    std::optional<double>* target, std::string* error) {
  double parsed = 0.0;
  if (parse_frequency_option(value.c_str(), min_value, MAX_FREQUENCY_HZ, &parsed) != 0) {
    return bad_value(name, value, expected, error);
  }
  *target = parsed;
  return 0;
}

int apply_rate(const std::string& name, const std::string& value, RxOptions* options, std::string* error) {
  double rate = 0.0;
  if (parse_frequency_option(value.c_str(), -MAX_FREQUENCY_HZ, MAX_FREQUENCY_HZ, &rate) != 0) {
    return bad_value(name, value, "pairs per second such as 2400000, 2.4M, 2.4e6 or 240k", error);
  }
  if (rate <= 0.0) {
    *error = "the rate given with --rate (" + value + ") is not positive; give the recording's pairs per second";
    return -1;
  }
  options->recording.sample_rate = rate;
  return 0;
}

int apply_bandwidth(const std::string& name, const std::string& value, RxOptions* options, std::string* error) {
  double width = 0.0;
  if (parse_frequency_option(value.c_str(), MIN_CHANNEL_WIDTH_HZ, MAX_FREQUENCY_HZ, &width) != 0) {
    return bad_value(name, value, "a channel width of at least 5k, such as 12.5k or 25k", error);
  }
  options->channel_width_hz = width;
  return 0;
}

int apply_threads(const std::string& name, const std::string& value, RxOptions* options, std::string* error) {
  std::int64_t threads = 0;
  if (parse_integer_option(value.c_str(), 1, MAX_THREADS, &threads) != 0) {
    return bad_value(name, value, "a number of parallel pieces from 1 to 256", error);
  }
  options->threads = static_cast<unsigned>(threads);
  return 0;
}

// Applies one option that takes a value. 0, or -1 with `*error` set.
int apply_option(const std::string& name, const std::string& value, RxOptions* options, std::string* error) {
  if (name == "-o") {
    if (value.empty()) return bad_value(name, value, "a file name, or - for standard output", error);
    options->output_path = value;
    return 0;
  }
  if (name == "--format") {
    SampleFormat format;
    if (parse_sample_format(value, &format) != 0) return bad_value(name, value, "cu8, cs8, cs16 or cf32", error);
    options->recording.format = format;
    return 0;
  }
  if (name == "--rate") return apply_rate(name, value, options, error);
  if (name == "--center") {
    return parse_frequency(name, value, -MAX_FREQUENCY_HZ, "a frequency in Hz such as 145.5M",
                           &options->recording.centre_hz, error);
  }
  if (name == "--offset") {
    return parse_frequency(name, value, -MAX_FREQUENCY_HZ, "Hz from the recording's centre, such as -12.5k",
                           &options->offset_hz, error);
  }
  if (name == "--freq") {
    return parse_frequency(name, value, -MAX_FREQUENCY_HZ, "a frequency in Hz such as 145.5125M",
                           &options->frequency_hz, error);
  }
  if (name == "--bandwidth") return apply_bandwidth(name, value, options, error);
  if (name == "--kernel") {
    if (value.empty()) return bad_value(name, value, "a kernel image or .kasm source", error);
    options->kernel_path = value;
    return 0;
  }
  if (name == "-D") {
    if (value.find('=') == std::string::npos || value[0] == '=') return bad_value(name, value, "NAME=VALUE", error);
    options->definitions.push_back(value);
    return 0;
  }
  if (name == "-j") return apply_threads(name, value, options, error);
  if (name == "--deemphasis") {
    if (parse_real_option(value.c_str(), 0.0, MAX_DEEMPHASIS_US, &options->after.deemphasis_us) != 0 ||
        options->after.deemphasis_us <= 0.0) {
      return bad_value(name, value, "a time constant in microseconds above 0 up to 10000, such as 750", error);
    }
    return 0;
  }
  if (name == "--keep-pieces") {
    if (value.empty()) return bad_value(name, value, "an existing folder", error);
    options->pieces_dir = value;
    return 0;
  }
  *error = "unknown option '" + name + "'";
  return -1;
}

bool takes_value(const std::string& name) {
  for (const char* known : {"-o", "-j", "-D", "--format", "--rate", "--center", "--offset", "--freq", "--bandwidth",
                            "--kernel", "--keep-pieces", "--deemphasis"}) {
    if (name == known) return true;
  }
  return false;
}

int check_combination(const RxOptions& options, std::string* error) {
  if (options.recording.path.empty()) {
    *error = "no recording given";
    return -1;
  }
  if (options.output_path.empty()) {
    *error = "no output given; add -o voice.wav (or -o - for standard output)";
    return -1;
  }
  if (options.offset_hz && options.frequency_hz) {
    *error = "--offset and --freq both choose the channel; give one";
    return -1;
  }
  if (!options.definitions.empty() && options.kernel_path.empty()) {
    *error = "-D defines constants for a --kernel source; give --kernel FILE.kasm";
    return -1;
  }
  return 0;
}

}  // namespace

RxParse parse_rx_options(int argc, char** argv, RxOptions* options, std::string* error) {
  RxOptions parsed;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return RxParse::HELP;
    if (arg == "--quiet" || arg == "-q") {
      parsed.quiet = true;
      continue;
    }
    if (arg == "--normalize") {
      parsed.after.normalize = true;
      continue;
    }
    if (arg.empty() || arg[0] != '-') {
      if (!parsed.recording.path.empty() || arg.empty()) {
        *error = arg.empty() ? "empty recording name" : "more than one recording: '" + arg + "'";
        return RxParse::ERROR;
      }
      parsed.recording.path = arg;
      continue;
    }
    // "--name value", "--name=value", "-o value", "-oFILE", "-DNAME=V", "-j2".
    std::string name = arg;
    std::string value;
    bool has_value = false;
    if (arg.rfind("--", 0) == 0) {
      const std::size_t equals = arg.find('=');
      if (equals != std::string::npos) {
        name = arg.substr(0, equals);
        value = arg.substr(equals + 1);
        has_value = true;
      }
    } else if (arg.size() > 2) {
      name = arg.substr(0, 2);
      value = arg.substr(2);
      has_value = true;
    }
    if (!takes_value(name)) {
      *error = "unknown option '" + arg + "'";
      return RxParse::ERROR;
    }
    if (!has_value) {
      if (i + 1 >= argc) {
        *error = "option " + name + " needs a value";
        return RxParse::ERROR;
      }
      value = argv[++i];
    }
    if (apply_option(name, value, &parsed, error) != 0) return RxParse::ERROR;
  }
  if (check_combination(parsed, error) != 0) return RxParse::ERROR;
  *options = std::move(parsed);
  return RxParse::OK;
}

const char* rx_usage() {
  return R"(usage: kdsp-rx [options] RECORDING -o OUTPUT.wav

Demodulates one FM channel of a radio recording into a voice WAV (16-bit
mono, 48 kHz), through the same core as kdsp. Any length: a recording longer
than 30 s is cut into overlapping pieces that run side by side, and their
audio is joined into one file.

Recordings:
  NAME.iq                 a kdsp capture (float32 I/Q at 240000 pairs/s)
  NAME.cu8 .cs8 .cs16 .cf32
                          raw interleaved I/Q (unsigned 8-bit, signed 8-bit,
                          signed 16-bit little-endian, float32 little-endian);
                          the rate must be given with --rate
  NAME.wav                two-channel WAV, I left and Q right (8, 16, 24 or
                          32-bit integer or float); the rate is the file's
  NAME.sigmf-meta / NAME.sigmf-data
                          a SigMF pair (cu8, ci8, ci16_le, cf32_le); the rate
                          and the centre frequency are the metadata's

Options:
  -o FILE                 the WAV to write (- for standard output); written
                          whole or not at all
  --format F              read RECORDING as raw I/Q of format F (cu8, cs8,
                          cs16, cf32) whatever its name says
  --rate R                pairs per second: 2400000, 2.4M, 2.4e6, 240k
  --center HZ             the recording's centre frequency (for --freq)
  --offset HZ             the channel, in Hz from the recording's centre
  --freq HZ               the channel's absolute frequency, such as 145.5M
                          (needs the centre from the metadata or --center)
  --bandwidth W           channel width: 25k (default: the voice chain's own
                          filter) or narrower, such as 12.5k, which rejects a
                          neighbour 12.5 kHz away
  --kernel FILE           run this kernel on every piece instead of the
                          built-in one (an image, or .kasm source assembled
                          on the fly); it finds the channel at the placed
                          offset: 0 Hz, or the --offset itself when the
                          recording is a 240000 pairs/s capture
  -D NAME=VALUE           a constant for the --kernel source (repeatable)
  --deemphasis US         a one-pole de-emphasis with this time constant in
                          microseconds (750 for narrowband FM voice)
  --normalize             a fixed gain that brings the audio's peak to -1 dB
                          of full scale
  -j N                    pieces run at once (default: one per processor
                          core); the output is the same for any N
  --keep-pieces DIR       also write each piece's capture and WAV to DIR
                          (piece-001.iq, piece-001.wav, ...): kdsp run on
                          a piece's capture with the built-in kernel gives
                          that piece's WAV
  -q, --quiet             no progress line
  -h, --help              show this text

A kdsp capture given with --offset and nothing else gives exactly the bytes
kdsp writes for it with the six-word kernel at that offset. --deemphasis and
--normalize change the core's audio and are off unless given.

Exit status: 0 success, 1 the recording, the kernel or the output failed
(one line on standard error says why), 2 bad options.
)";
}

}  // namespace kdsp
