// Command line of kdsp-synth.
#pragma once

#include <cstdint>
#include <string>

#include "audio_source.h"

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
};

inline constexpr double DEFAULT_DURATION_S = 5.0;
inline constexpr double MIN_DURATION_S = 0.001;
inline constexpr double MAX_DURATION_S = 30.0;
inline constexpr double MAX_DEVIATION_HZ = 15000.0;
inline constexpr double MIN_CNR_DB = -30.0;
inline constexpr double MAX_CNR_DB = 100.0;
inline constexpr double MAX_SECOND_LEVEL_DB = 40.0;

enum SynthParseResult : int { SYNTH_PARSE_OK = 0, SYNTH_PARSE_HELP = 1, SYNTH_PARSE_ERROR = 2 };

// Reads argv into `*options`. SYNTH_PARSE_OK, SYNTH_PARSE_HELP for --help,
// or SYNTH_PARSE_ERROR with `*error` saying what is wrong.
int parse_synth_options(int argc, char** argv, SynthOptions* options, std::string* error);

// The --help text.
const char* synth_usage();

}  // namespace kdsp
