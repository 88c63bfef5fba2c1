#include "radio/traffic/transmission_record.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace kdsp {

namespace {

// Times to the millisecond, levels to a tenth of a decibel, frequencies to
// the hertz: what the measurement can tell.
double rounded(double value, double per_unit) { return std::round(value * per_unit) / per_unit; }

}  // namespace

std::string transmission_file_name(double offset_hz, const std::optional<double>& frequency_hz, double start_s) {
  char name[96];
  if (frequency_hz) {
    std::snprintf(name, sizeof name, "%.0fHz_%.3fs.wav", *frequency_hz, start_s);
  } else {
    std::snprintf(name, sizeof name, "%+.0fHz_%.3fs.wav", offset_hz, start_s);
  }
  return name;
}

void sort_transmissions(std::vector<TransmissionEntry>* entries) {
  std::sort(entries->begin(), entries->end(), [](const TransmissionEntry& a, const TransmissionEntry& b) {
    return a.start_s != b.start_s ? a.start_s < b.start_s : a.offset_hz < b.offset_hz;
  });
}

std::string transmissions_json(const std::vector<TransmissionEntry>& entries) {
  nlohmann::ordered_json record = nlohmann::ordered_json::array();
  for (const TransmissionEntry& entry : entries) {
    nlohmann::ordered_json item;
    item["offset_hz"] = rounded(entry.offset_hz, 1.0);
    item["frequency_hz"] =
        entry.frequency_hz ? nlohmann::ordered_json(rounded(*entry.frequency_hz, 1.0)) : nlohmann::ordered_json();
    item["start_s"] = rounded(entry.start_s, 1000.0);
    item["end_s"] = rounded(entry.end_s, 1000.0);
    item["level_db"] = rounded(entry.level_db, 10.0);
    item["file"] = entry.file;
    record.push_back(item);
  }
  return record.dump(2) + "\n";
}

std::string transmissions_csv(const std::vector<TransmissionEntry>& entries) {
  std::string text = "offset_hz,frequency_hz,start_s,end_s,level_db,file\n";
  char line[256];
  for (const TransmissionEntry& entry : entries) {
    char frequency[32] = "";
    if (entry.frequency_hz) std::snprintf(frequency, sizeof frequency, "%.0f", *entry.frequency_hz);
    std::snprintf(line, sizeof line, "%.0f,%s,%.3f,%.3f,%.1f,%s\n", entry.offset_hz, frequency, entry.start_s,
                  entry.end_s, entry.level_db, entry.file.c_str());
    text += line;
  }
  return text;
}

}  // namespace kdsp
