// The names kdsp-rx --all gives the transmissions it writes, from a template
// the user chooses (--name): tokens in braces filled per transmission, '/'
// for folders ("{date}/{freq}_{start_utc}"). Whatever the values, the result
// is a relative path below the output folder that common file systems take:
// no component is empty, "." or "..", or starts with '-' (read as an option
// by the commands a user runs on it); '/' inside a value, NUL, control
// characters and the characters Windows refuses (\ : * ? " < > |) become
// '_'; a component longer than MAX_NAME_COMPONENT_BYTES is cut at a UTF-8
// character boundary. The expansion has no extension: the caller adds
// ".wav".
//
// Tokens:
//   {freq}      the channel frequency in Hz, "144650000" (needs the centre)
//   {freq_mhz}  the same in MHz, "144.650000"
//   {offset}    the offset from the recording's centre in Hz, signed: "+25000"
//   {start}     seconds from the start of the recording, "3.994"
//   {start_utc} the start as UTC, "20261209T050813.250Z" (needs a start time)
//   {date}      the UTC date of the start, "2026-12-09"
//   {label}     the channel's label from the channel plan, "" without one
//   {tone}      the channel's tone, "100.0" or "D023N", "" without one
//   {n}         the transmission's running number
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "radio/meta/tone_table.h"
#include "radio/meta/utc_time.h"

#include "radio/base/failure.h"

namespace kdsp {

enum class NameToken { TEXT, FOLDER, FREQ, FREQ_MHZ, OFFSET, START, START_UTC, DATE, LABEL, TONE, NUMBER };

struct NamePiece {
  NameToken token = NameToken::TEXT;
  std::string text;  // TEXT only
};

// A checked template: literal text, tokens and folder breaks in order.
struct NameTemplate {
  std::vector<NamePiece> pieces;
};

// What one transmission's name is made from.
struct NameFields {
  double offset_hz = 0.0;
  std::optional<double> frequency_hz;  // with the recording's centre known
  double start_s = 0.0;                // from the start of the recording
  std::optional<UtcTime> start_utc;    // with the recording's start time known
  std::string label;
  Tone tone;
  std::uint64_t number = 0;
};

// What a template needs beyond the recording itself, so that a run can be
// refused before it starts rather than at its first transmission.
struct NameNeeds {
  bool centre = false;      // {freq}, {freq_mhz}
  bool start_time = false;  // {start_utc}, {date}
};

inline constexpr std::size_t MAX_NAME_TEMPLATE_BYTES = 512;
inline constexpr std::size_t MAX_NAME_COMPONENT_BYTES = 200;

// Checks `text`: 0 with `*name_template` set, or -1 with `*error` naming an
// unknown token (and listing the known ones), a brace without its partner,
// an absolute path, an empty folder or a "." or ".." folder.
int parse_name_template(std::string_view text, NameTemplate* name_template, Failure* failure);

// The template of the names kdsp-rx has always written, "{freq}Hz_{start}s"
// ("144650000Hz_3.994s"), "{offset}Hz_{start}s" without the centre
// ("+25000Hz_1.536s"); with a start time, the start as UTC instead of the
// seconds: "{freq}Hz_{start_utc}" ("144650000Hz_20261209T050813.250Z").
std::string default_name_template(bool has_centre, bool has_start_time);

NameNeeds name_template_needs(const NameTemplate& name_template);

// The relative path for one transmission: 0 with `*path` set, or -1 with
// `*error` when the template needs a centre or start time the fields lack.
int expand_name_template(const NameTemplate& name_template, const NameFields& fields, std::string* path,
                         Failure* failure);

}  // namespace kdsp
