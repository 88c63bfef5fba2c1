// kdsp-rx --all: every channel of a recording, each transmission on it to a
// WAV of its own, and the record of them all. The recording is read once;
// the channelizer places every channel in its own capture, the squelch
// gate cuts each into transmissions, and the core runs their pieces side by
// side; each WAV is what kdsp writes for its capture (joined as kdsp-rx
// joins pieces when longer than one), the same for any number of threads.
#pragma once

#include <string>

#include "kdsp-rx/rx_options.h"

namespace kdsp {

// Noise alone stays far below this (a window of noise measures below -5 dB);
// FM voice is readable from about 10 dB.
inline constexpr double DEFAULT_ALL_SQUELCH_DB = 6.0;

// Runs --all. 0, or -1 with `*error` naming the cause and the fix.
int run_all_channels(const RxOptions& options, std::string* error);

}  // namespace kdsp
