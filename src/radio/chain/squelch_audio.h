// kdsp-rx --squelch for one channel: every piece measures the windows that
// start in the part of the audio it supplies, and once all are in, the gate
// runs over them in order and the audio of every window it holds closed
// becomes digital silence. The same for any number of parallel pieces.
#pragma once

#include <complex>
#include <cstdint>
#include <span>
#include <vector>

#include "radio/chain/front_end.h"
#include "radio/chain/squelch_gate.h"
#include "radio/kernel/piece_plan.h"

namespace kdsp {

// Hang time of the single-channel squelch: a syllable's pause stays open.
inline constexpr double SQUELCH_HANG_S = 0.3;

struct SquelchPlan {
  double threshold_db = 0.0;
  CnrBands bands;
  // A front end with a channel filter leaves no noise beside the channel to
  // read; the windows are then measured on the capture converted without it.
  bool measure_unfiltered = false;
  FrontEndPlan unfiltered;
};

// Where the squelch reads a channel the front end placed by `plan`.
SquelchPlan plan_squelch(const FrontEndPlan& plan, double threshold_db);

// The number of windows of a capture of `total_pairs`.
std::size_t squelch_window_count(std::uint64_t total_pairs);

// The windows a piece measures: those starting in the part of the audio it
// supplies and ending inside its capture.
std::vector<std::uint64_t> piece_window_indices(const Piece& piece);

// Measures the windows starting in `piece`'s kept audio from its capture
// `capture` (the piece's pairs) into `cnr_db` (one entry per window of the
// whole capture). 0, or -1 when the meter could not be made (memory ran
// out).
int measure_piece_windows(const SquelchPlan& plan, const Piece& piece, const std::complex<float>* capture,
                          std::vector<double>* cnr_db);

// Runs the gate over the windows and zeroes the 16-bit samples in `pcm`
// (the joined audio) wherever it is closed.
void mute_closed_windows(const SquelchPlan& plan, const std::vector<double>& cnr_db, std::span<std::uint8_t> pcm);

}  // namespace kdsp
