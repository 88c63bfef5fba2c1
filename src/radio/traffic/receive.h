// One channel of a recording to one WAV: the pieces are converted by the
// front end and run through the core side by side, and their audio joined.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "radio/base/failure.h"
#include "radio/chain/front_end.h"
#include "radio/chain/squelch_audio.h"
#include "radio/io/recording.h"
#include "radio/kernel/core_run.h"
#include "radio/kernel/piece_plan.h"
#include "radio/spectrum/dropouts.h"

namespace kdsp {

struct ReceiveJob {
  RecordingInfo recording;
  FrontEndPlan front_end;
  std::vector<std::uint8_t> kernel_image;
  std::vector<Piece> pieces;
  unsigned threads = 1;
  // Non-empty: each piece's capture and WAV are also written there, as
  // piece-NNN.iq and piece-NNN.wav, for checking a piece against kdsp.
  std::string pieces_dir;
  // --squelch: the audio is muted where the channel is not above the noise.
  std::optional<SquelchPlan> squelch;
};

// Capture pairs converted so far, for a progress display on another thread.
// Once the run has ended, with --squelch, the dropouts it found (recording
// pairs).
struct ReceiveProgress {
  std::atomic<std::uint64_t> pairs_done{0};
  std::vector<DropoutSpan> dropouts;
};

// Runs every piece and joins the audio into one WAV: appended to `stream` in
// recording order as the pieces finish, so that memory does not grow with
// the recording's length, or, with a null `stream`, built whole in `*wav`
// (the squelch mutes the whole joined audio, so it needs a null `stream`).
// The bytes are the same either way and for any number of threads. 0, or -1
// with `*failure` naming the first failing piece (in recording order) and
// its cause; an OUTPUT failure when the stream could not take the audio.
int receive_channel(const ReceiveJob& job, ReceiveProgress* progress, OutputStream* stream,
                    std::vector<std::uint8_t>* wav, Failure* failure);

}  // namespace kdsp
