// Command line of kdsp-rx.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kdsp-rx/after_demod.h"
#include "kdsp-rx/recording.h"

namespace kdsp {

struct RxOptions {
  RecordingRequest recording;
  std::optional<double> offset_hz;    // --offset
  std::optional<double> frequency_hz; // --freq
  double channel_width_hz = 0.0;      // --bandwidth; 0: the voice chain alone
  std::string kernel_path;            // empty: the built-in kernel
  std::vector<std::string> definitions;  // -D NAME=VALUE, in order
  unsigned threads = 0;               // 0: one per core
  AfterDemod after;                   // --deemphasis, --normalize
  bool quiet = false;
  std::string output_path;            // "-": standard output
  std::string pieces_dir;             // --keep-pieces: each piece's capture and WAV
};

inline constexpr std::int64_t MAX_THREADS = 256;

enum class RxParse { OK, HELP, ERROR };

// Reads argv into `*options`: OK, HELP for --help, or ERROR with `*error`
// saying what is wrong.
RxParse parse_rx_options(int argc, char** argv, RxOptions* options, std::string* error);

// The --help text.
const char* rx_usage();

}  // namespace kdsp
