// kdsp-rx --all: every channel of a recording, each transmission on it to a
// WAV of its own, and the record of them all. The recording is read once;
// the channelizer places every channel in its own capture, a tracker per
// channel cuts it into transmissions, and the core runs their pieces; each
// WAV is what kdsp writes for its capture (joined as pieces are joined when
// longer than one), the same for any number of workers.
//
// One pool of `threads` workers does all of it. What a worker takes next:
//   1. a core run, when as many wait as there are workers (so that waiting
//      captures never pile up);
//   2. handing the next block on in order (one at a time: the trackers see
//      every channel's capture in order);
//   3. splitting a block ahead, while the ring has a free slot;
//   4. any waiting core run.
// Each task's result depends only on its inputs, and the ordered stage runs
// in order, so the files are the same for any number of workers.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "radio/base/failure.h"
#include "radio/spectrum/dropouts.h"
#include "radio/traffic/band_plan.h"

namespace kdsp {

// How far a run has come, for a progress display on another thread.
struct BandProgress {
  std::atomic<std::uint64_t> input_done{0};  // recording pairs read
  std::atomic<std::uint64_t> written{0};     // transmissions written
};

struct BandResult {
  std::size_t written = 0;            // transmissions
  std::vector<DropoutSpan> dropouts;  // stretches with no signal at all (recording pairs)
};

// Runs the plan: writes every transmission's WAV into the output folder and
// then the record. 0 with `*result` filled, or -1 with `*failure` naming
// the cause and the fix.
int receive_band(const BandPlan& plan, BandProgress* progress, BandResult* result, Failure* failure);

}  // namespace kdsp
