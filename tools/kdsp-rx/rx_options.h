// Command line of kdsp-rx.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "radio/base/failure.h"
#include "radio/chain/after_demod.h"
#include "radio/io/recording.h"
#include "radio/meta/tone_table.h"
#include "radio/traffic/transmission_tracker.h"

namespace kdsp {

struct RxOptions {
  RecordingRequest recording;
  std::optional<double> offset_hz;       // --offset
  std::optional<double> frequency_hz;    // --freq
  double channel_width_hz = 0.0;         // --bandwidth; 0: the voice chain alone
  std::string kernel_path;               // empty: the built-in kernel
  std::vector<std::string> definitions;  // -D NAME=VALUE, in order
  std::int64_t threads = 0;              // 0: one per core
  AfterDemod after;                      // --deemphasis, --normalize
  bool quiet = false;
  std::string output_path;           // "-": standard output
  std::string pieces_dir;            // --keep-pieces: each piece's capture and WAV
  std::optional<double> squelch_db;  // --squelch: mute below this carrier-to-noise ratio
  // --all: every channel to its own transmissions in a directory.
  bool all = false;
  std::string output_dir;               // -O
  std::vector<double> channel_values;   // --channels: offsets, or absolute frequencies
  double raster_hz = 0.0;               // --raster; 0: none
  bool force = false;                   // --force: replace files in the directory
  bool csv = false;                     // --csv: the record as CSV too
  std::string plan_path;                // --plan: the channels, their labels and tones
  std::vector<std::string> tone_texts;  // --tone (repeatable), as given
  std::vector<Tone> tones;              // read from them
  std::string name_template;            // --name
  double min_duration_s = MIN_TRANSMISSION_S;
  double max_duration_s = 0.0;  // 0: none
};

inline constexpr double MIN_RASTER_HZ = 1000.0;
inline constexpr double MAX_RASTER_HZ = 1e6;
inline constexpr double MIN_SQUELCH_DB = -10.0;
inline constexpr double MAX_SQUELCH_DB = 60.0;

inline constexpr std::int64_t MAX_THREADS = 256;
inline constexpr double MAX_TRANSMISSION_S = 86400.0;

extern const ToolHelp RX_HELP;

// Declares every option on `app`, each writing into `*options`.
void add_rx_options(CLI::App& app, RxOptions* options);

// Checks that relate several options, once all are read, and drops what
// was not given. 0, or -1 with a USAGE failure.
int complete_rx_options(const CLI::App& app, RxOptions* options, Failure* failure);

}  // namespace kdsp
