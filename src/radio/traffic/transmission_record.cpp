#include "radio/traffic/transmission_record.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace kdsp {

namespace {

using Json = nlohmann::ordered_json;

// Times to the millisecond, levels to a tenth of a decibel, frequencies to
// the hertz: what the measurement can tell.
double rounded(double value, double per_unit) { return std::round(value * per_unit) / per_unit; }

Json optional_text(const std::optional<std::string>& text) { return text ? Json(*text) : Json(); }

Json time_text(const std::optional<UtcTime>& time) { return time ? Json(utc_time_rfc3339(*time)) : Json(); }

Json entry_json(const TransmissionEntry& entry) {
  Json item;
  item["offset_hz"] = rounded(entry.offset_hz, 1.0);
  item["frequency_hz"] = entry.frequency_hz ? Json(rounded(*entry.frequency_hz, 1.0)) : Json();
  item["start_s"] = rounded(entry.start_s, 1000.0);
  item["end_s"] = rounded(entry.end_s, 1000.0);
  item["level_db"] = rounded(entry.level_db, 10.0);
  item["file"] = entry.file;
  item["start_utc"] = time_text(entry.start_utc);
  item["end_utc"] = time_text(entry.end_utc);
  item["time_source"] = entry.start_utc ? Json(entry.time_source) : Json();
  item["label"] = optional_text(entry.label);
  const Tone& tone = entry.tone.tone;
  item["ctcss_hz"] = tone.kind == ToneKind::CTCSS ? Json(tone.ctcss_hz) : Json();
  item["dcs"] = tone.kind == ToneKind::DCS ? Json(dcs_code_name(tone.dcs_code, tone.dcs_inverted)) : Json();
  const Tone& alias = entry.tone.dcs_alias;
  item["dcs_alias"] = tone.kind == ToneKind::DCS && alias.kind == ToneKind::DCS
                          ? Json(dcs_code_name(alias.dcs_code, alias.dcs_inverted))
                          : Json();
  item["tone_confidence"] = rounded(entry.tone.confidence, 100.0);
  item["cut"] = entry.cut;
  return item;
}

bool earlier(const TransmissionEntry& a, const TransmissionEntry& b) {
  return a.start_s != b.start_s ? a.start_s < b.start_s : a.offset_hz < b.offset_hz;
}

}  // namespace

void sort_transmissions(std::vector<TransmissionEntry>* entries) {
  std::sort(entries->begin(), entries->end(), earlier);
}

std::string transmissions_json(const std::vector<TransmissionEntry>& entries) {
  Json record = Json::array();
  for (const TransmissionEntry& entry : entries) record.push_back(entry_json(entry));
  return record.dump(2) + "\n";
}

std::string transmissions_csv(const std::vector<TransmissionEntry>& entries) {
  std::string text =
      "offset_hz,frequency_hz,start_s,end_s,level_db,file,start_utc,end_utc,label,ctcss_hz,dcs,dcs_alias,"
      "tone_confidence,cut\n";
  for (const TransmissionEntry& entry : entries) {
    const Json item = entry_json(entry);
    char line[256];
    char frequency[32] = "";
    if (entry.frequency_hz) std::snprintf(frequency, sizeof frequency, "%.0f", *entry.frequency_hz);
    std::snprintf(line, sizeof line, "%.0f,%s,%.3f,%.3f,%.1f,", entry.offset_hz, frequency, entry.start_s, entry.end_s,
                  entry.level_db);
    text += line;
    // Text fields are quoted as CSV quotes them: a label may hold a comma.
    const auto field = [](const Json& value) {
      if (value.is_null()) return std::string();
      std::string raw = value.is_string() ? value.get<std::string>() : value.dump();
      if (raw.find_first_of(",\"\n\r") == std::string::npos) return raw;
      std::string quoted = "\"";
      for (char c : raw) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
      return quoted + "\"";
    };
    text += field(item["file"]) + "," + field(item["start_utc"]) + "," + field(item["end_utc"]) + "," +
            field(item["label"]) + "," + field(item["ctcss_hz"]) + "," + field(item["dcs"]) + "," +
            field(item["dcs_alias"]) + "," + field(item["tone_confidence"]) + "," + (entry.cut ? "true" : "false") +
            "\n";
  }
  return text;
}

std::string skipped_json(std::vector<SkippedEntry> entries) {
  std::sort(entries.begin(), entries.end(),
            [](const SkippedEntry& a, const SkippedEntry& b) { return earlier(a.heard, b.heard); });
  Json record = Json::array();
  for (const SkippedEntry& entry : entries) {
    Json item = entry_json(entry.heard);
    item.erase("file");
    item["reason"] = entry.reason;
    record.push_back(item);
  }
  return record.dump(2) + "\n";
}

}  // namespace kdsp
