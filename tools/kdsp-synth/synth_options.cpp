#include "synth_options.h"

#include <cstring>

#include "dsp/fm_demod.h"
#include "common/option_value.h"

namespace kdsp {

namespace {

constexpr double MAX_OFFSET_HZ = FMDEMOD_MAX_OFFSET_HZ;

// Tracks which options were given, for the checks that relate them.
struct GivenOptions {
  bool second_audio = false;
  bool second_level = false;
};

int bad_value(const char* name, const char* value, const char* expected, std::string* error) {
  *error = std::string("bad value '") + value + "' for " + name + ": expected " + expected;
  return -1;
}

int parse_real(const char* name, const char* value, double min_value, double max_value, const char* expected,
               double* target, std::string* error) {
  if (parse_real_option(value, min_value, max_value, target) != 0) return bad_value(name, value, expected, error);
  return 0;
}

// Applies one option with its value. 0, or -1 with `*error` set.
int apply_option(const char* name, const char* value, SynthOptions* options, GivenOptions* given,
                 std::string* error) {
  if (std::strcmp(name, "--audio") == 0) return parse_audio_request(value, &options->audio, error);
  if (std::strcmp(name, "--offset") == 0) {
    return parse_real(name, value, -MAX_OFFSET_HZ, MAX_OFFSET_HZ, "Hz from -100000 to 100000", &options->offset_hz,
                      error);
  }
  if (std::strcmp(name, "--deviation") == 0) {
    if (parse_real(name, value, 0.0, MAX_DEVIATION_HZ, "Hz above 0 up to 15000", &options->deviation_hz, error) != 0) {
      return -1;
    }
    return options->deviation_hz > 0.0 ? 0 : bad_value(name, value, "Hz above 0 up to 15000", error);
  }
  if (std::strcmp(name, "--duration") == 0) {
    return parse_real(name, value, MIN_DURATION_S, MAX_DURATION_S, "seconds from 0.001 to 30", &options->duration_s,
                      error);
  }
  if (std::strcmp(name, "--cnr") == 0) {
    options->add_noise = true;
    return parse_real(name, value, MIN_CNR_DB, MAX_CNR_DB, "dB from -30 to 100", &options->cnr_db, error);
  }
  if (std::strcmp(name, "--second-offset") == 0) {
    options->add_second = true;
    return parse_real(name, value, -MAX_OFFSET_HZ, MAX_OFFSET_HZ, "Hz from -100000 to 100000",
                      &options->second_offset_hz, error);
  }
  if (std::strcmp(name, "--second-audio") == 0) {
    given->second_audio = true;
    return parse_audio_request(value, &options->second_audio, error);
  }
  if (std::strcmp(name, "--second-level") == 0) {
    given->second_level = true;
    return parse_real(name, value, -MAX_SECOND_LEVEL_DB, MAX_SECOND_LEVEL_DB, "dB from -40 to 40",
                      &options->second_level_db, error);
  }
  if (std::strcmp(name, "--seed") == 0) {
    if (parse_unsigned_option(value, &options->seed) != 0) {
      return bad_value(name, value, "an unsigned 64-bit integer", error);
    }
    return 0;
  }
  if (std::strcmp(name, "--audio-out") == 0) {
    if (value[0] == '\0') return bad_value(name, value, "a file name", error);
    options->audio_out_path = value;
    return 0;
  }
  *error = std::string("unknown option '") + name + "'";
  return -1;
}

// Checks that relate several options, once all are read.
int check_combination(const SynthOptions& options, const GivenOptions& given, std::string* error) {
  if ((given.second_audio || given.second_level) && !options.add_second) {
    *error = "--second-audio and --second-level need --second-offset";
    return -1;
  }
  if (options.output_path.empty()) {
    *error = "no output file given";
    return -1;
  }
  if (options.audio_out_path == options.output_path) {
    *error = "--audio-out must name a file other than the capture";
    return -1;
  }
  return 0;
}

}  // namespace

int parse_synth_options(int argc, char** argv, SynthOptions* options, std::string* error) {
  SynthOptions parsed;
  GivenOptions given;
  bool have_output = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) return SYNTH_PARSE_HELP;
    if (arg[0] == '-' && (arg[1] != '-' || arg[2] == '\0')) {
      *error = std::string("unknown option '") + arg + "'";
      return SYNTH_PARSE_ERROR;
    }
    if (arg[0] != '-') {
      if (have_output || arg[0] == '\0') {
        *error = have_output ? std::string("more than one output file: '") + arg + "'" : "empty output file name";
        return SYNTH_PARSE_ERROR;
      }
      parsed.output_path = arg;
      have_output = true;
      continue;
    }
    // Both "--name value" and "--name=value".
    std::string name(arg);
    std::string value;
    std::size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      *error = "option " + name + " needs a value";
      return SYNTH_PARSE_ERROR;
    }
    if (apply_option(name.c_str(), value.c_str(), &parsed, &given, error) != 0) return SYNTH_PARSE_ERROR;
  }
  if (check_combination(parsed, given, error) != 0) return SYNTH_PARSE_ERROR;
  *options = std::move(parsed);
  return SYNTH_PARSE_OK;
}

const char* synth_usage() {
  return R"(usage: kdsp-synth [options] OUTPUT.iq

Makes a capture for kdsp: headerless little-endian float32 I/Q pairs at
240000 pairs per second, holding one FM channel (and optionally a second one)
with optional noise. The same options and seed give the same bytes.

Options:
  --audio SOURCE         audio of the channel (default: voice)
                           tone[:HZ]           sine, default 1000 Hz
                           two-tone[:HZ,HZ]    two equal sines, default 700,1900
                           sweep[:HZ,HZ]       linear sweep over the duration,
                                               default 300,3300
                           voice               spoken-like test signal
                           file:PATH           first channel of an audio file
                                               (WAV, FLAC, ...), any rate
                         every source is scaled so its peak gives the peak
                         deviation
  --offset HZ            channel offset from the capture's centre,
                         -100000 to 100000 (default 0)
  --deviation HZ         peak frequency deviation, up to 15000 (default 5000)
  --duration SECONDS     0.001 to 30 (default: the file's length up to 30 s,
                         else 5); a shorter file is followed by silence
  --cnr DB               add noise: carrier-to-noise ratio of the channel,
                         noise measured in 27 kHz (the receiver's channel
                         width), -30 to 100 dB (default: no noise)
  --second-offset HZ     add a second channel at this offset
  --second-audio SOURCE  its audio (default: tone:1000)
  --second-level DB      its power relative to the first, -40 to 40 (default 0)
  --seed N               seed for carrier phases and noise (default 1)
  --audio-out FILE.wav   also write the first channel's audio, as modulated,
                         as a 16-bit WAV at its source rate (48000 Hz for the
                         built-in signals), for comparison with a demodulation
  -h, --help             show this text

The carrier of the first channel has amplitude 0.5. The output appears whole
or not at all: it is written to a temporary file beside it, then renamed.
Exit status: 0 success, 1 failure while making or writing, 2 bad options.
)";
}

}  // namespace kdsp
