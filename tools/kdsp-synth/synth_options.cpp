#include "kdsp-synth/synth_options.h"

#include "dsp/fm_demod.h"
#include "kdsp-synth/keyed_recording.h"
#include "common/recording_options.h"
#include "radio/base/option_value.h"

namespace kdsp {

namespace {

constexpr double MAX_OFFSET_HZ = FMDEMOD_MAX_OFFSET_HZ;
constexpr const char* OFFSET_RANGE = "Hz from -100000 to 100000";

CLI::Option* add_tone_list_option(CLI::App& app, const std::string& name, ToneKind kind, std::vector<Tone>* tones,
                                  const char* forms) {
  return add_checked_option(app, name, [kind, tones, forms](const std::string& text) {
    return parse_tone_list(text, kind, tones) == 0 ? std::string() : std::string(forms);
  });
}

CLI::Option* add_audio_option(CLI::App& app, const std::string& name, AudioRequest* request) {
  return add_checked_option(app, name, [request](const std::string& text) {
    Failure failure;
    return parse_audio_request(text.c_str(), request, &failure) == 0 ? std::string() : std::string(AUDIO_SOURCE_FORMS);
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
  add_real_option(app, "--duration", &options->duration_s, MIN_DURATION_S, MAX_KEYED_DURATION_S,
                  "seconds from 0.001 to 30 (3600 with keyed channels)")
      ->type_name("SECONDS")
      ->description(
          "0.001 to 30 (default: the file's length up to 30 s,\nelse 5); a shorter file is followed by silence;\n"
          "up to 3600 with keyed channels");
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
  add_integer_option(app, "--keyed", &options->keyed_count, 1, MAX_KEYED_CHANNELS, "a number of channels from 1 to 64")
      ->type_name("N")
      ->description(
          "keyed channels instead: N channels on the --raster at\nrandom places in the band, each keyed on and off\n"
          "with real speech (codec2-examples); writes a raw\nrecording at --rate in --format");
  add_checked_option(app, "--keyed-channels",
                     [options](const std::string& text) {
                       if (parse_frequency_list(text, -5e8, 5e8, &options->keyed_offsets) != 0) {
                         return std::string("offsets separated by commas, such as -25k,50k");
                       }
                       return std::string();
                     })
      ->type_name("F1,F2,...")
      ->description("keyed channels at these offsets instead");
  add_checked_option(app, "--raster",
                     [options](const std::string& text) {
                       if (parse_frequency_option(text.c_str(), 1000.0, 1e6, &options->raster_hz) != 0) {
                         return std::string("a channel raster such as 12.5k or 25k");
                       }
                       return std::string();
                     })
      ->type_name("STEP")
      ->description("the keyed channels' raster (default 25k)");
  add_checked_option(app, "--rate",
                     [options](const std::string& text) {
                       if (parse_frequency_option(text.c_str(), 48000.0, 1e8, &options->rate) != 0) {
                         return std::string("pairs per second from 48k to 100M, such as 2.4M");
                       }
                       return std::string();
                     })
      ->type_name("R")
      ->description("the keyed recording's pairs per second (default\n240k)");
  add_checked_option(app, "--format",
                     [options](const std::string& text) {
                       SampleFormat format = SampleFormat::CF32_LE;
                       if (parse_sample_format(text, &format) != 0) return sample_format_choices();
                       options->format = format;
                       return std::string();
                     })
      ->type_name("F")
      ->description(
          "the keyed recording's samples: cu8, cs8, cs16, cf32\n(default: from the output's extension; cf32 for\n"
          "NAME.sigmf-data, which gets NAME.sigmf-meta beside it)");
  add_checked_option(app, "--center",
                     [options](const std::string& text) {
                       if (parse_frequency_option(text.c_str(), 0.0, 1e12, &options->centre_hz) != 0) {
                         return std::string("a frequency in Hz, such as 145.5M");
                       }
                       options->has_centre = true;
                       return std::string();
                     })
      ->type_name("HZ")
      ->description("the receiver's centre frequency, written to a\nSigMF recording's metadata");
  add_start_time_option(app, &options->start_time)
      ->type_name("TIME")
      ->description("when the recording began, written to a SigMF\nrecording's metadata as core:datetime");
  app.add_option("--key", options->key_spans)
      ->type_name("CH:START-END")
      ->description("key channel CH (1 is the lowest) from START to END\nseconds (repeatable; default: random keying)")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  add_tone_list_option(app, "--ctcss", ToneKind::CTCSS, &options->ctcss_tones,
                       "standard CTCSS tones in Hz separated by commas, such as 67,100.0")
      ->type_name("HZ[,HZ...]")
      ->description(
          "key the channels with CTCSS tones at 15 % of the\npeak deviation (the voice keeps the rest): one per\n"
          "channel in order, or, with fewer tones than\nchannels, one drawn at random for each channel\n"
          "(--seed)");
  add_tone_list_option(app, "--dcs", ToneKind::DCS, &options->dcs_tones,
                       "standard DCS codes separated by commas, such as 023,754I")
      ->type_name("CODE[,CODE...]")
      ->description(
          "the same with DCS codes (023 or 023N normal, 023I\ninverted), each transmission ending with the\n"
          "turn-off code; with --ctcss too, the channels take\nthe CTCSS tones first, then the codes");
  add_path_option(app, "--truth", &options->truth_path)
      ->type_name("FILE.json")
      ->description(
          "also write every keyed transmission (offset_hz,\nstart_s, end_s, speech; with tones ctcss_hz and\n"
          "dcs) as JSON");
  add_path_option(app, "--speech", &options->speech_dir)
      ->type_name("DIR")
      ->description("where codec2-examples' speech lies (default\n/usr/share/codec2/raw)");
  add_path_option(app, "--audio-out", &options->audio_out_path)
      ->type_name("FILE.wav")
      ->description(
          "also write the first channel's audio, as\nmodulated, as a 16-bit WAV at its source rate\n"
          "(48000 Hz for the built-in signals), to compare\nwith a demodulation");
}

namespace {

int usage(const std::string& message, Failure* failure) {
  *failure = Failure{message, "", "", FailureKind::USAGE};
  return -1;
}

}  // namespace

int complete_synth_options(const CLI::App& app, SynthOptions* options, Failure* failure) {
  options->add_noise = app.count("--cnr") > 0;
  options->keyed = app.count("--keyed") > 0 || app.count("--keyed-channels") > 0;
  if (options->keyed) {
    if (app.count("--keyed") > 0 && app.count("--keyed-channels") > 0) {
      return usage("give --keyed N or --keyed-channels, not both", failure);
    }
    for (const char* single :
         {"--audio", "--offset", "--second-offset", "--second-audio", "--second-level", "--audio-out"}) {
      if (app.count(single) > 0)
        return usage(std::string(single) + " is for a capture of one channel, not keyed channels", failure);
    }
    if (options->speech_dir.empty()) options->speech_dir = DEFAULT_SPEECH_DIR;
    options->keyed_tones = options->ctcss_tones;
    options->keyed_tones.insert(options->keyed_tones.end(), options->dcs_tones.begin(), options->dcs_tones.end());
    const std::size_t channels =
        app.count("--keyed") > 0 ? static_cast<std::size_t>(options->keyed_count) : options->keyed_offsets.size();
    if (options->keyed_tones.size() > channels) return usage("more tones than keyed channels", failure);
    return 0;
  }
  for (const char* keyed :
       {"--raster", "--rate", "--format", "--key", "--truth", "--speech", "--center", "--start-time", "--ctcss", "--dcs"}) {
    if (app.count(keyed) > 0) return usage(std::string(keyed) + " goes with --keyed or --keyed-channels", failure);
  }
  if (options->duration_s > MAX_DURATION_S) return usage("--duration above 30 s needs keyed channels", failure);
  options->add_second = app.count("--second-offset") > 0;
  if ((app.count("--second-audio") > 0 || app.count("--second-level") > 0) && !options->add_second) {
    return usage("--second-audio and --second-level need --second-offset", failure);
  }
  if (options->audio_out_path == options->output_path)
    return usage("--audio-out must name a file other than the capture", failure);
  return 0;
}

const ToolHelp SYNTH_HELP{
    "kdsp-synth",
    "[options] OUTPUT.iq | --keyed N [options] OUTPUT.cu8",
    "Makes a capture for kdsp: headerless little-endian float32 I/Q pairs at\n"
    "240000 pairs per second, holding one FM channel (and optionally a second one)\n"
    "with optional noise. With --keyed or --keyed-channels it writes instead a raw\n"
    "recording at any rate of several channels keyed on and off with real speech,\n"
    "and with --truth the list of those transmissions. The same options and seed\n"
    "give the same bytes.",
    "The carrier of the first channel has amplitude 0.5. The output appears whole\n"
    "or not at all: it is written to a temporary file beside it, then renamed.\n"
    "Exit status: 0 success; 1 failure while making or writing; 2 a usage error.",
};

}  // namespace kdsp
