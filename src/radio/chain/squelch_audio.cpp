#include "radio/chain/squelch_audio.h"

#include <algorithm>
#include <cmath>

#include "radio/io/channel_width.h"
#include "radio/kernel/core_run.h"

namespace kdsp {

namespace {

// The part of a converted capture whose noise is taken as flat: inside the
// resampler's passband.
constexpr double CONVERTED_REFERENCE_HZ = 80000.0;
constexpr double PASSED_REFERENCE_HZ = 100000.0;

}  // namespace

SquelchPlan plan_squelch(const FrontEndPlan& plan, double threshold_db) {
  SquelchPlan squelch;
  squelch.threshold_db = threshold_db;
  squelch.bands.channel_offset_hz = plan.placed_offset_hz;
  if (plan.channel_width_hz > 0.0) {
    squelch.bands.channel_half_width_hz = std::min(CHANNEL_HALF_WIDTH_HZ, plan.channel_width_hz / 2.0);
    squelch.measure_unfiltered = true;
    squelch.unfiltered = plan;
    squelch.unfiltered.channel_width_hz = 0.0;
  }
  const double reference = plan.pass_through ? PASSED_REFERENCE_HZ : CONVERTED_REFERENCE_HZ;
  squelch.bands.reference_low_hz = -reference;
  squelch.bands.reference_high_hz = reference;
  return squelch;
}

std::size_t squelch_window_count(std::uint64_t total_pairs) {
  return static_cast<std::size_t>((total_pairs + CNR_WINDOW_PAIRS - 1) / CNR_WINDOW_PAIRS);
}

std::vector<std::uint64_t> piece_window_indices(const Piece& piece) {
  const std::uint64_t kept_first = piece.keep_begin * CORE_PAIRS_PER_SAMPLE;
  const std::uint64_t kept_end = piece.keep_end * CORE_PAIRS_PER_SAMPLE;
  const std::uint64_t piece_end = piece.first_pair + piece.pair_count;
  std::vector<std::uint64_t> windows;
  for (std::uint64_t w = (kept_first + CNR_WINDOW_PAIRS - 1) / CNR_WINDOW_PAIRS; w * CNR_WINDOW_PAIRS < kept_end; ++w) {
    // A last window cut short by the capture's end counts as its predecessor.
    if (w * CNR_WINDOW_PAIRS + CNR_WINDOW_PAIRS > piece_end) break;
    windows.push_back(w);
  }
  return windows;
}

int measure_piece_windows(const SquelchPlan& plan, const Piece& piece, const std::complex<float>* capture,
                          std::vector<double>* cnr_db) {
  CnrMeter meter;
  if (meter.make(plan.bands) != 0) return -1;
  for (std::uint64_t w : piece_window_indices(piece)) {
    (*cnr_db)[w] = meter.measure(capture + (w * CNR_WINDOW_PAIRS - piece.first_pair));
  }
  return 0;
}

void mute_closed_windows(const SquelchPlan& plan, const std::vector<double>& cnr_db, std::span<std::uint8_t> pcm) {
  SquelchGate gate = make_squelch_gate(plan.threshold_db, SQUELCH_HANG_S);
  std::vector<bool> open(cnr_db.size());
  double last = CNR_FLOOR_DB;
  for (std::size_t w = 0; w < cnr_db.size(); ++w) {
    // A window left unmeasured (cut short by the end) reads as the one before.
    if (!std::isnan(cnr_db[w])) last = cnr_db[w];
    step_squelch_gate(&gate, last);
    open[w] = gate.open;
  }
  const std::size_t samples = pcm.size() / 2;
  for (std::size_t n = 0; n < samples; ++n) {
    const std::size_t w = std::min<std::size_t>(n * CORE_PAIRS_PER_SAMPLE / CNR_WINDOW_PAIRS, open.size() - 1);
    if (!open[w]) {
      pcm[2 * n] = 0;
      pcm[2 * n + 1] = 0;
    }
  }
}

}  // namespace kdsp
