#include "synth_options.h"

#include "common/option_value.h"
#include "dsp/fm_demod.h"

namespace kdsp {

namespace {

constexpr double MAX_OFFSET_HZ = FMDEMOD_MAX_OFFSET_HZ;
constexpr const char* OFFSET_RANGE = "Hz from -100000 to 100000";

CLI::Option* add_audio_option(CLI::App& app, const std::string& name, AudioRequest* request) {
  return add_checked_option(app, name, [request](const std::string& text) {
    std::string error;
    return parse_audio_request(text.c_str(), request, &error) == 0 ? std::string() : std::string(AUDIO_SOURCE_FORMS);
  });
}

}  // namespace

void add_synth_options(CLI::App& app, SynthOptions* options) {
  add_path_option(app, "OUTPUT.iq", &options->output_path)
      ->required()
      ->type_name("")
      ->description("the capture to write");
  add_audio_option(app, "--audio", &options->audio)
      ->type_name("SOURCE")
      ->description(
          "audio of the channel (default: voice):\n"
          "tone[:HZ]         sine, default 1000 Hz\n"
          "two-tone[:HZ,HZ]  two equal sines, default\n"
          "                  700,1900\n"
          "sweep[:HZ,HZ]     linear sweep over the\n"
          "                  duration, default 300,3300\n"
          "voice             spoken-like test signal\n"
          "file:PATH         first channel of an audio\n"
          "                  file (WAV, FLAC, ...), any\n"
          "                  rate; a regular file, not a\n"
          "                  FIFO\n"
          "every source is scaled so that its peak gives\n"
          "the peak deviation");
  add_real_option(app, "--offset", &options->offset_hz, -MAX_OFFSET_HZ, MAX_OFFSET_HZ, OFFSET_RANGE)
      ->type_name("HZ")
      ->description("channel offset from the capture's centre,\n-100000 to 100000 (default 0)");
  add_checked_option(app, "--deviation",
                     [options](const std::string& text) {
                       double deviation_hz = 0.0;
                       const bool good = parse_real_option(text.c_str(), 0.0, MAX_DEVIATION_HZ, &deviation_hz) == 0 &&
                                         deviation_hz > 0.0;
                       if (!good) return std::string("Hz above 0 up to 15000");
                       options->deviation_hz = deviation_hz;
                       return std::string();
                     })
      ->type_name("HZ")
      ->description("peak frequency deviation, above 0 up to\n15000 (default 5000)");
  add_real_option(app, "--duration", &options->duration_s, MIN_DURATION_S, MAX_DURATION_S, "seconds from 0.001 to 30")
      ->type_name("SECONDS")
      ->description(
          "0.001 to 30 (default: the file's length up to 30 s,\nelse 5); a shorter file is followed by silence");
  add_real_option(app, "--cnr", &options->cnr_db, MIN_CNR_DB, MAX_CNR_DB, "dB from -30 to 100")
      ->type_name("DB")
      ->description(
          "add noise: carrier-to-noise ratio of the channel,\nnoise measured in 27 kHz (the receiver's channel\n"
          "width), -30 to 100 dB (default: no noise)");
  add_real_option(app, "--second-offset", &options->second_offset_hz, -MAX_OFFSET_HZ, MAX_OFFSET_HZ, OFFSET_RANGE)
      ->type_name("HZ")
      ->description("add a second channel at this offset");
  add_audio_option(app, "--second-audio", &options->second_audio)
      ->type_name("SOURCE")
      ->description("its audio (default: tone:1000)");
  add_real_option(app, "--second-level", &options->second_level_db, -MAX_SECOND_LEVEL_DB, MAX_SECOND_LEVEL_DB,
                  "dB from -40 to 40")
      ->type_name("DB")
      ->description("its power relative to the first,\n-40 to 40 (default 0)");
  add_unsigned_option(app, "--seed", &options->seed)
      ->type_name("N")
      ->description("seed for carrier phases and noise (default 1)");
  add_path_option(app, "--audio-out", &options->audio_out_path)
      ->type_name("FILE.wav")
      ->description(
          "also write the first channel's audio, as\nmodulated, as a 16-bit WAV at its source rate\n"
          "(48000 Hz for the built-in signals), to compare\nwith a demodulation");
}

std::string complete_synth_options(const CLI::App& app, SynthOptions* options) {
  options->add_noise = app.count("--cnr") > 0;
  options->add_second = app.count("--second-offset") > 0;
  if ((app.count("--second-audio") > 0 || app.count("--second-level") > 0) && !options->add_second) {
    return "--second-audio and --second-level need --second-offset";
  }
  if (options->audio_out_path == options->output_path) return "--audio-out must name a file other than the capture";
  return "";
}

const ToolHelp SYNTH_HELP{
    "kdsp-synth",
    "[options] OUTPUT.iq",
    "Makes a capture for kdsp: headerless little-endian float32 I/Q pairs at\n"
    "240000 pairs per second, holding one FM channel (and optionally a second one)\n"
    "with optional noise. The same options and seed give the same bytes.",
    "The carrier of the first channel has amplitude 0.5. The output appears whole\n"
    "or not at all: it is written to a temporary file beside it, then renamed.\n"
    "Exit status: 0 success; 1 failure while making or writing; 2 a usage error.",
};

}  // namespace kdsp
