// The record kdsp-rx --all leaves beside the WAVs: every transmission, in
// order of its start, as JSON (transmissions.json) and optionally CSV
// (transmissions.csv); the candidates the filters dropped, with their
// reasons (skipped.json).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "radio/meta/tone_table.h"
#include "radio/meta/utc_time.h"

namespace kdsp {

// The sub-audible tone a transmission was keyed with, as read.
struct HeardTone {
  Tone tone;       // NONE when none was heard
  Tone dcs_alias;  // for DCS, the same signal's other name
  double confidence = 0.0;
};

struct TransmissionEntry {
  double offset_hz = 0.0;
  std::optional<double> frequency_hz;  // with the recording's centre known
  double start_s = 0.0;
  double end_s = 0.0;
  double level_db = 0.0;
  std::string file;  // the WAV's name inside the directory (folders included)
  // With the recording's start known: the absolute times, and what said
  // when the recording began.
  std::optional<UtcTime> start_utc;
  std::optional<UtcTime> end_utc;
  std::string time_source;
  std::optional<std::string> label;  // from the channel plan
  HeardTone tone;
  bool cut = false;  // ended at --max-duration, not by the squelch
};

// A candidate the filters dropped, and why: "too_short", "tone_mismatch",
// "neighbour" (the same transmission heard in the channel beside it).
struct SkippedEntry {
  TransmissionEntry heard;  // file empty
  std::string reason;
};

inline constexpr const char* RECORD_JSON_NAME = "transmissions.json";
inline constexpr const char* RECORD_CSV_NAME = "transmissions.csv";
inline constexpr const char* SKIPPED_JSON_NAME = "skipped.json";

// Orders entries by start, then by offset.
void sort_transmissions(std::vector<TransmissionEntry>* entries);

std::string transmissions_json(const std::vector<TransmissionEntry>& entries);
std::string transmissions_csv(const std::vector<TransmissionEntry>& entries);
std::string skipped_json(std::vector<SkippedEntry> entries);

}  // namespace kdsp
