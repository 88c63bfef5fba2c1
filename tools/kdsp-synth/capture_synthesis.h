// Assembles a capture from modulated channels and noise and streams it into
// an output file.
#pragma once

#include <cstdint>
#include <vector>

#include "common/atomic_output.h"

namespace kdsp {

// One FM channel; `audio` holds one sample per pair.
struct ChannelPlan {
  std::vector<float> audio;
  double offset_hz = 0.0;
  double deviation_hz = 0.0;
  double amplitude = 0.0;
};

struct CapturePlan {
  std::uint64_t pair_count = 0;
  ChannelPlan first;
  bool has_second = false;
  ChannelPlan second;
  double noise_power = 0.0;  // per pair, both parts together; 0 for none
  std::uint64_t seed = 0;
};

inline constexpr double FIRST_CARRIER_AMPLITUDE = 0.5;

// Noise power per pair that gives `cnr_db` against a carrier of `amplitude`,
// with the noise measured in CNR_BANDWIDTH_HZ.
double noise_power_for_cnr(double amplitude, double cnr_db);

// Writes the capture's pairs to `out`. 0, or the errno value of a failed write.
int write_synthesized_capture(const CapturePlan& plan, AtomicOutput& out);

}  // namespace kdsp
