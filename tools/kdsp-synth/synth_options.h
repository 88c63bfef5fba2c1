// Command line of kdsp-synth.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "kdsp-synth/audio_source.h"
#include "radio/base/failure.h"
#include "radio/io/sample_format.h"
#include "radio/meta/utc_time.h"
#include "radio/meta/tone_table.h"

namespace kdsp {

struct SynthOptions {
  AudioRequest audio;  // voice unless given
  double offset_hz = 0.0;
  double deviation_hz = 5000.0;
  double duration_s = 0.0;  // 0: not given (the file's length, else DEFAULT_DURATION_S)
  bool add_noise = false;
  double cnr_db = 0.0;
  bool add_second = false;
  double second_offset_hz = 0.0;
  AudioRequest second_audio{AudioKind::TONE, 1000.0, 0.0, {}};
  double second_level_db = 0.0;
  std::uint64_t seed = 1;
  std::string audio_out_path;  // empty: none
  std::string output_path;
  // Keyed channels (--keyed or --keyed-channels): a raw recording instead.
  bool keyed = false;
  std::int64_t keyed_count = 0;
  std::vector<double> keyed_offsets;
  double raster_hz = 25000.0;
  double rate = 240000.0;
  std::optional<SampleFormat> format;  // --format; none: from the output's name
  std::vector<std::string> key_spans;  // --key CH:START-END
  std::string truth_path;
  std::string speech_dir;
  bool has_centre = false;  // --center: the receiver's frequency, for SigMF metadata
  double centre_hz = 0.0;
  std::optional<UtcTime> start_time;  // --start-time: for SigMF metadata
  std::vector<Tone> ctcss_tones;  // --ctcss
  std::vector<Tone> dcs_tones;    // --dcs
  std::vector<Tone> keyed_tones;  // both, the CTCSS ones first
};

inline constexpr double DEFAULT_DURATION_S = 5.0;
inline constexpr double MIN_DURATION_S = 0.001;
inline constexpr double MAX_DURATION_S = 30.0;
inline constexpr double MAX_DEVIATION_HZ = 15000.0;
inline constexpr double MIN_CNR_DB = -30.0;
inline constexpr double MAX_CNR_DB = 100.0;
inline constexpr double MAX_SECOND_LEVEL_DB = 40.0;

// What kdsp-synth says about itself in --help.
extern const ToolHelp SYNTH_HELP;

// Declares kdsp-synth's options on `app`, each writing into `*options` as it
// is parsed.
void add_synth_options(CLI::App& app, SynthOptions* options);

// Once `app` has parsed: sets what follows from which options were given
// (noise, a second channel) and checks the options that relate to each
// other. 0, or -1 with a USAGE failure saying what is wrong.
int complete_synth_options(const CLI::App& app, SynthOptions* options, Failure* failure);

}  // namespace kdsp
