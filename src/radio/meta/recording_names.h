// What the file names other receivers give their I/Q recordings say about
// them: when the recording started, whether that time is UTC or the
// recorder's local time, the centre frequency, and where the name tells it,
// the sample rate and sample format. The names are matched whole against one
// table of patterns (recording_names.cpp), one row a recorder's name form,
// each row citing where the form comes from.
//
// A local time is never turned into an instant here: the caller sees
// time_base LOCAL and must say so to the user before using it (through
// utc_time_from_local, which refuses the times a DST change makes ambiguous).
#pragma once

#include <optional>
#include <string_view>

#include "radio/meta/utc_time.h"

namespace kdsp {

enum class NameTimeBase { UTC, LOCAL };

struct RecordingName {
  const char* recorder = "";  // "gqrx", "SDR++", "SDR#"
  CivilTime start;            // as written in the name
  NameTimeBase time_base = NameTimeBase::UTC;
  std::optional<double> centre_hz;
  std::optional<double> sample_rate;
  // A kdsp-rx --format name ("cf32") when the name fixes the sample format;
  // "" when the file's own header says (WAV).
  const char* sample_format = "";
};

// Reads the base name of `file_name` (anything up to its last '/' is
// ignored). 0 with `*name` filled when it is one of the table's forms with a
// real date and time, -1 otherwise (`*name` untouched).
int parse_recording_name(std::string_view file_name, RecordingName* name);

}  // namespace kdsp
