// Choosing the channel when the user names none: the strongest channel that
// kdsp-scan's finder sees in the recording, inside the band a channel can use.
#pragma once

#include <cstddef>
#include <string>

#include "radio/base/failure.h"
#include "radio/io/recording.h"

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

// Finds the strongest channel within `reach_hz` of the centre. 0 with
// `*choice` filled, or -1 with `*error` naming the file and the fix.
int find_strongest_channel(const RecordingInfo& recording, double reach_hz, FoundChoice* choice, Failure* failure);

}  // namespace kdsp
