// Choosing the channel when the user names none: the strongest channel that
// kdsp-scan's finder sees in the recording, inside the band a channel can use.
#pragma once

#include <string>

#include "kdsp-rx/recording.h"
#include "kdsp-scan/channel_finder.h"

namespace kdsp {

struct FoundChoice {
  double offset_hz = 0.0;
  double cnr_db = 0.0;
};

// Pairs of the recording the spectrum is taken from at most: spread over the
// whole recording in equal stretches, so that a channel heard only late is
// seen too, and bounded so that the search takes the same memory for any length.
inline constexpr std::size_t SEARCH_MAX_PAIRS = std::size_t{1} << 22;
inline constexpr std::size_t SEARCH_STRETCHES = 16;
// Bins no wider than this, whatever the rate: the finder's resolution at the
// core's own rate.
inline constexpr double SEARCH_MAX_BIN_HZ = 120.0;

// A receiver's own leak at 0 Hz: a narrow line near the centre, not a channel.
bool is_dc_spike(const FoundChannel& channel);

// Finds the strongest channel within `reach_hz` of the centre. 0 with
// `*choice` filled, or -1 with `*error` naming the file and the fix.
int find_strongest_channel(const RecordingInfo& recording, double reach_hz, FoundChoice* choice, std::string* error);

}  // namespace kdsp
