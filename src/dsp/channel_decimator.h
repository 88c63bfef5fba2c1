// Mixer and decimating channel filter of the FM chain, run block by block.
//
// The mixed signal is produced in a small window that holds just the pairs
// the next block of filter outputs needs, instead of a full-rate array the
// size of the capture: the capture is the only full-rate array in memory.
// The window keeps the mixed pairs in polyphase order (pair m in row m / 5 of
// phase m % 5, real and imaginary parts apart), so that consecutive outputs,
// five pairs apart, read consecutive doubles and are computed side by side in
// vector lanes. Each output still adds its taps one by one, in increasing
// order, exactly as the plain convolution does.
#pragma once

#include <cstdint>

#include "dsp/complex.h"
#include "dsp/oscillator.h"

namespace kdsp {

inline constexpr std::uint32_t DECIMATION_FACTOR = 5;  // 240 000 -> 48 000 per second

// Outputs computed per window fill.
inline constexpr std::uint64_t DECIMATOR_BLOCK_OUTPUTS = 2048;
// Rows per phase: the block's outputs plus the filter's reach.
inline constexpr std::uint64_t DECIMATOR_WINDOW_ROWS = DECIMATOR_BLOCK_OUTPUTS + 40;
// Doubles in the window: five phases, real and imaginary rows.
inline constexpr std::uint64_t DECIMATOR_WINDOW_DOUBLES = 10 * DECIMATOR_WINDOW_ROWS;

// Where a block-by-block run stands; filled by decimator_start.
struct ChannelDecimator {
  const float* iq_samples;
  std::uint64_t pair_count;
  const double* taps;
  double* window;
  double mixer_step;             // radians per pair
  PhaseAccumulator mixer_phase;  // that of the next pair to mix
  std::uint64_t next_output;
};

// Prepares a run over the capture; nothing is read yet. The capture, the
// taps and the window must outlive the run.
//   window : DECIMATOR_WINDOW_DOUBLES of scratch, contents irrelevant
void decimator_start(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz, const double* taps,
                     double* window, ChannelDecimator* decimator);

// Writes the next outputs of the run (at most DECIMATOR_BLOCK_OUTPUTS) to
// out[0 ..] and returns how many; 0 once all pair_count/5 are done. Output k
// (k = 0 .. pair_count/5 - 1) is the sum over the taps of taps[j] * mixed
// pair 5k - 81 + j (pairs outside 0 .. pair_count-1 skipped, not taken as
// zero), where mixed pair n is iq pair n times e^(i phi_n), phi_n the
// PhaseAccumulator's phase of pair n from 0 in steps of
// -2 pi offset_hz / 240000, each product narrowed to float.
std::uint64_t decimate_next_block(ChannelDecimator* decimator, Complex* out);

}  // namespace kdsp
