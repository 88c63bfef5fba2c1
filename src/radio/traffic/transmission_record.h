// The record kdsp-rx --all leaves beside the WAVs: every transmission, in
// order of its start, as JSON (transmissions.json) and optionally CSV
// (transmissions.csv), and the name each transmission's WAV gets.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kdsp {

struct TransmissionEntry {
  double offset_hz = 0.0;
  std::optional<double> frequency_hz;  // with the recording's centre known
  double start_s = 0.0;
  double end_s = 0.0;
  double level_db = 0.0;
  std::string file;  // the WAV's name inside the directory
};

inline constexpr const char* RECORD_JSON_NAME = "transmissions.json";
inline constexpr const char* RECORD_CSV_NAME = "transmissions.csv";

// "145512500Hz_12.340s.wav", or by offset "+25000Hz_12.340s.wav" without
// the centre.
std::string transmission_file_name(double offset_hz, const std::optional<double>& frequency_hz, double start_s);

// Orders entries by start, then by offset.
void sort_transmissions(std::vector<TransmissionEntry>* entries);

std::string transmissions_json(const std::vector<TransmissionEntry>& entries);
std::string transmissions_csv(const std::vector<TransmissionEntry>& entries);

}  // namespace kdsp
