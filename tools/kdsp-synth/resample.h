// Rate conversion of modulating audio to the capture's pair rate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kdsp-synth/audio_source.h"
#include "radio/base/failure.h"

namespace kdsp {

// Converts `audio` to IQ_SAMPLE_RATE and returns exactly `pair_count`
// samples: audio shorter than that is followed by silence, longer is cut.
// 0 with `*converted` filled, else -1 with `*error` set.
int resample_to_pair_rate(const SourceAudio& audio, std::uint64_t pair_count, std::vector<float>* converted,
                          Failure* failure);

}  // namespace kdsp
