// The command-line options that describe a recording, shared by every
// companion that reads one: the file itself, --format, --rate and --center.
#pragma once

#include <optional>
#include <string>

#include "common/command_line.h"
#include "radio/io/recording.h"

namespace kdsp {

// A frequency option ("145.5M", "-12.5k") from -MAX_FREQUENCY_HZ to
// MAX_FREQUENCY_HZ; a refused value is a usage error saying `expected`.
CLI::Option* add_frequency_option(CLI::App& app, const std::string& name, std::optional<double>* target,
                                  const std::string& expected);

// --start-time: when a recording's first sample was taken, RFC 3339 with
// its zone; a refused value is a usage error.
CLI::Option* add_start_time_option(CLI::App& app, std::optional<UtcTime>* target);

// The positional RECORDING.
CLI::Option* add_recording_argument(CLI::App& app, RecordingRequest* request);

// --format, --rate and --center; `centre_use` ends the description of
// --center ("the recording's centre frequency (for --freq)").
void add_recording_format_options(CLI::App& app, RecordingRequest* request, const std::string& centre_use);

}  // namespace kdsp
