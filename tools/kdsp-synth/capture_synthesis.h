// Assembles a capture from modulated channels and noise, as the bytes of a
// capture file.
#pragma once

#include <cstdint>
#include <vector>
#include "radio/io/channel_width.h"

namespace kdsp {

// One FM channel; `audio` holds one sample per pair.
struct ModulatedChannel {
  std::vector<float> audio;
  double offset_hz = 0.0;
  double deviation_hz = 0.0;
  double amplitude = 0.0;
};

struct CapturePlan {
  std::uint64_t pair_count = 0;
  ModulatedChannel first;
  bool has_second = false;
  ModulatedChannel second;
  double noise_power = 0.0;  // per pair, both parts together; 0 for none
  std::uint64_t seed = 0;
};

inline constexpr double FIRST_CARRIER_AMPLITUDE = 0.5;

// Noise power per pair that gives `cnr_db` against a carrier of `amplitude`,
// with the noise measured in CNR_BANDWIDTH_HZ.
double noise_power_for_cnr(double amplitude, double cnr_db);

// The capture's pairs as file bytes (8 per pair; at most 57.6 MB for the
// longest capture), built whole so that the file is written in one step.
std::vector<std::uint8_t> synthesize_capture_bytes(const CapturePlan& plan);

}  // namespace kdsp
