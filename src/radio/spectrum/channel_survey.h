// Every channel of a recording for kdsp-rx --all: kdsp-scan's finder over
// short stretches taken every fraction of a second through the whole
// recording, on the spectrum averaged over time and on its maximum over time,
// so that a channel keyed only now and then is found as well as one that is
// always on. Memory does not grow with the recording's length.
#pragma once

#include <string>
#include <vector>

#include "radio/base/failure.h"
#include "radio/io/recording.h"

namespace kdsp {

struct SurveyedChannel {
  double offset_hz = 0.0;
  double cnr_db = 0.0;  // in the spectrum it was found in
};

// Bins no wider than this: a channel's centre to a few hundred hertz.
inline constexpr double SURVEY_MAX_BIN_HZ = 300.0;
// A stretch starts this often, so that any transmission of half a second is
// seen in at least one.
inline constexpr double SURVEY_SPACING_S = 0.4;
// Channels of the two spectra closer than this are one.
inline constexpr double SURVEY_SAME_CHANNEL_HZ = 6000.0;

// The channels within `reach_hz` of the centre, lowest offset first. 0, or -1
// with `*error` naming the file and the fix.
// `*silent` (when given) says whether every stretch looked at was a dropout
// (no signal, no noise at all).
int survey_channels(const RecordingInfo& recording, double reach_hz, std::vector<SurveyedChannel>* channels,
                    Failure* failure, bool* silent = nullptr);

}  // namespace kdsp
