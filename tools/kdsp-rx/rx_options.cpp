#include "kdsp-rx/rx_options.h"

#include "common/recording_options.h"
#include "radio/base/option_value.h"
#include "radio/chain/front_end.h"
#include "radio/io/channel_width.h"

namespace kdsp {

void add_rx_options(CLI::App& app, RxOptions* options) {
  add_recording_argument(app, &options->recording);
  add_checked_option(app, "-o",
                     [options](const std::string& text) {
                       if (text.empty()) return std::string("a file name, or - for standard output");
                       options->output_path = text;
                       return std::string();
                     })
      ->type_name("FILE")
      ->description("the WAV to write (- for standard output); written\nwhole or not at all");
  add_recording_format_options(app, &options->recording, "(for --freq)");
  add_frequency_option(app, "--offset", &options->offset_hz, "Hz from the recording's centre, such as -12.5k")
      ->type_name("HZ")
      ->description("the channel, in Hz from the recording's centre");
  add_frequency_option(app, "--freq", &options->frequency_hz, "a frequency in Hz such as 145.5125M")
      ->type_name("HZ")
      ->description(
          "the channel's absolute frequency (needs the centre\nfrom the metadata or --center); with neither\n"
          "--offset nor --freq, the strongest channel found");
  add_checked_option(app, "--bandwidth",
                     [options](const std::string& text) {
                       if (parse_frequency_option(text.c_str(), MIN_CHANNEL_WIDTH_HZ, MAX_FREQUENCY_HZ,
                                                  &options->channel_width_hz) != 0) {
                         return std::string("a channel width of at least 5k, such as 12.5k or 25k");
                       }
                       return std::string();
                     })
      ->type_name("W")
      ->description(
          "channel width: 25k (default: the voice chain's own\nfilter) or narrower, such as 12.5k, which rejects a\n"
          "neighbour 12.5 kHz away; with --all, channels closer\nthan 25 kHz are narrowed to the gap unless given");
  add_path_option(app, "--kernel", &options->kernel_path)
      ->type_name("FILE")
      ->description(
          "run this kernel on every piece: an image, or .kasm\nsource assembled on the fly, which finds the\n"
          "channel's placed offset as OFFSET_HZ (0 Hz, or the\n--offset itself for a 240000 pairs/s capture;\n"
          "with --all, the channel's offset from its bin's\ncentre)");
  app.add_option("-D", options->definitions)
      ->type_name("NAME=VALUE")
      ->description("a constant for the --kernel source (repeatable)")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  add_real_option(app, "--deemphasis", &options->after.deemphasis_us, 1e-3, MAX_DEEMPHASIS_US,
                  "a time constant in microseconds above 0 up to 10000, such as 750")
      ->type_name("US")
      ->description("a one-pole de-emphasis with this time constant in\nmicroseconds (750 for narrowband FM voice)");
  app.add_flag("--normalize", options->after.normalize,
               "a fixed gain that brings the audio's peak to -1 dB\nof full scale");
  add_integer_option(app, "-j", &options->threads, 1, MAX_THREADS, "a number of parallel pieces from 1 to 256")
      ->type_name("N")
      ->description("pieces run at once (default: one per processor\ncore); the output is the same for any N");
  add_path_option(app, "--keep-pieces", &options->pieces_dir)
      ->type_name("DIR")
      ->description(
          "also write each piece's capture and WAV to DIR\n(piece-001.iq, piece-001.wav, ...): kdsp run on a\n"
          "piece's capture with the built-in kernel gives that\npiece's WAV");
  add_real_option(app, "--squelch", &options->squelch_db.emplace(), MIN_SQUELCH_DB, MAX_SQUELCH_DB,
                  "a carrier-to-noise ratio in dB from -10 to 60, such as 6")
      ->type_name("DB")
      ->description(
          "mute the audio (all-zero samples) where the channel\nstands less than DB over the noise (in 27 kHz);\n"
          "with --all, where a transmission opens (default 6)");
  app.add_flag("--all", options->all,
               "every channel of the recording to its own\ntransmissions, each a WAV in the -O directory,\n"
               "listed in transmissions.json");
  add_path_option(app, "-O", &options->output_dir)
      ->type_name("DIR")
      ->description("with --all: the directory for the WAVs and the\nrecord (made if missing)");
  add_checked_option(
      app, "--channels",
      [options](const std::string& text) {
        if (parse_frequency_list(text, -MAX_FREQUENCY_HZ, MAX_FREQUENCY_HZ, &options->channel_values) != 0) {
          return std::string("frequencies separated by commas, such as -25k,12.5k or 145.5M,145.525M");
        }
        return std::string();
      })
      ->type_name("F1,F2,...")
      ->description(
          "with --all: these channels instead of the ones found;\neach an offset, or an absolute frequency (beyond\n"
          "half the rate; needs the centre)");
  add_checked_option(
      app, "--raster",
      [options](const std::string& text) {
        if (parse_frequency_option(text.c_str(), MIN_RASTER_HZ, MAX_RASTER_HZ, &options->raster_hz) != 0) {
          return std::string("a channel raster such as 12.5k or 25k");
        }
        return std::string();
      })
      ->type_name("STEP")
      ->description("with --all: put found channels on this raster\n(12.5k, 25k)");
  app.add_flag("--force", options->force,
               "with --all: replace files already in the directory;\nwith --keep-pieces: replace files there");
  app.add_flag("--csv", options->csv, "with --all: the record as transmissions.csv too");
  add_path_option(app, "--plan", &options->plan_path)
      ->type_name("FILE")
      ->description(
          "with --all: the channels to watch from a channel list,\neach transmission labelled: a CSV with a header\n"
          "frequency,label[,tone], or a CHIRP export");
  app.add_option("--tone", options->tone_texts)
      ->type_name("TONE")
      ->description(
          "with --all: keep only transmissions keyed with this\nCTCSS tone (100.0) or DCS code (D023N, D023I);\n"
          "repeatable")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  add_checked_option(app, "--name",
                     [options](const std::string& text) {
                       if (text.empty()) return std::string("a file name template such as {freq}Hz_{start_utc}");
                       options->name_template = text;
                       return std::string();
                     })
      ->type_name("TEMPLATE")
      ->description(
          "with --all: name the files from {freq} {freq_mhz}\n{offset} {start} {start_utc} {date} {label} {tone}\n"
          "{n}; '/' makes folders (default: <freq>Hz_<start>s,\nor <freq>Hz_<start_utc> when the time is known)");
  add_real_option(app, "--min-duration", &options->min_duration_s, 0.0, MAX_TRANSMISSION_S,
                  "seconds from 0 to 86400, such as 0.5")
      ->type_name("S")
      ->description("with --all: drop transmissions shorter than S\n(default 0.5)");
  add_real_option(app, "--max-duration", &options->max_duration_s, 1.0, MAX_TRANSMISSION_S,
                  "seconds from 1 to 86400, such as 300")
      ->type_name("S")
      ->description("with --all: cut a transmission at S seconds (a stuck\ncarrier), marked cut in the record");
  app.add_flag("-q,--quiet", options->quiet, "no progress line, and no line about the chosen\nchannel");
}

namespace {

int usage(const std::string& message, Failure* failure) {
  *failure = Failure{message, "", "", FailureKind::USAGE};
  return -1;
}

}  // namespace

int complete_rx_options(const CLI::App& app, RxOptions* options, Failure* failure) {
  if (app.count("--squelch") == 0) options->squelch_db.reset();
  for (const std::string& text : options->tone_texts) {
    Tone tone;
    if (parse_tone(text, &tone) != 0) {
      return usage("--tone: bad value '" + text +
                       "': expected a CTCSS tone in Hz such as 100.0, or a DCS code such "
                       "as D023N",
                   failure);
    }
    options->tones.push_back(tone);
  }
  if (!options->definitions.empty() && options->kernel_path.empty()) {
    return usage("-D defines constants for a --kernel source; give --kernel FILE.kasm", failure);
  }
  if (options->all) {
    if (options->output_dir.empty()) return usage("--all writes into a directory; give -O DIR", failure);
    if (!options->plan_path.empty() && !options->channel_values.empty()) {
      return usage("--plan and --channels both name the channels; give one", failure);
    }
    for (const char* single : {"-o", "--offset", "--freq"}) {
      if (app.count(single) > 0)
        return usage(std::string(single) + " is for one channel; --all takes every channel", failure);
    }
    return 0;
  }
  for (const char* many :
       {"-O", "--channels", "--raster", "--csv", "--plan", "--tone", "--name", "--min-duration", "--max-duration"}) {
    if (app.count(many) > 0) return usage(std::string(many) + " goes with --all", failure);
  }
  if (app.count("--force") > 0 && options->pieces_dir.empty()) {
    return usage("--force goes with --all or --keep-pieces", failure);
  }
  if (options->output_path.empty())
    return usage("give -o FILE for the WAV (or --all -O DIR for every channel)", failure);
  if (app.count("--offset") > 0 && app.count("--freq") > 0) {
    return usage("--offset and --freq both choose the channel; give one", failure);
  }
  return 0;
}

const ToolHelp RX_HELP{
    "kdsp-rx",
    "[options] RECORDING -o OUTPUT.wav | --all [options] RECORDING -O DIR",
    "Demodulates one FM channel of a radio recording into a voice WAV (16-bit\n"
    "mono, 48 kHz), through the same core as kdsp. Any length: a recording longer\n"
    "than 30 s is cut into overlapping pieces that run side by side, and their\n"
    "audio is joined into one file. A raw file's rate must be given with --rate;\n"
    "WAV files carry theirs, SigMF metadata the rate and the centre frequency.",
    "A kdsp capture given with --offset and nothing else gives exactly the bytes\n"
    "kdsp writes for it with the six-word kernel at that offset. --deemphasis and\n"
    "--normalize change the core's audio and are off unless given.\n"
    "--all finds every channel (or takes --channels), reads the recording once,\n"
    "and writes each transmission as DIR/<frequency or offset>_<start>.wav, listed\n"
    "in DIR/transmissions.json; existing files are kept unless --force.\n"
    "Exit status: 0 success; 1 the recording, the kernel or the output failed (one\n"
    "line on standard error names the file, the cause and the fix); 2 a usage error.",
};

}  // namespace kdsp
