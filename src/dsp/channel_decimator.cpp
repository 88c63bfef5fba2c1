#include "dsp/channel_decimator.h"

#include <algorithm>
#include <cstring>

#include "base/numbers.h"
#include "dsp/channel_filter.h"
#include "dsp/detail.h"
#include "dsp/oscillator.h"
#include "dsp/vector_lanes.h"
#include "formats/iq_capture.h"

namespace kdsp {

namespace {

constexpr std::uint64_t PHASES = DECIMATION_FACTOR;
constexpr std::uint64_t ROWS = DECIMATOR_WINDOW_ROWS;
constexpr std::uint64_t BLOCK = DECIMATOR_BLOCK_OUTPUTS;
constexpr std::uint64_t HALF = CHANNEL_FILTER_CENTRE;
constexpr std::uint64_t TAPS = CHANNEL_FILTER_TAPS;
// Window position w of pair m for a block starting at output k0 is
// m - 5 k0 + LEAD: the block's first output reads positions 4 .. 166, and the
// lead is a multiple of five so that w and m share their phase.
constexpr std::uint64_t LEAD = HALF + 4;
static_assert(LEAD % PHASES == 0);

// The window: five real rows, then five imaginary rows, ROWS doubles each.
struct Window {
  double* values;
  double* re(std::uint64_t phase) const { return values + phase * ROWS; }
  double* im(std::uint64_t phase) const { return values + (PHASES + phase) * ROWS; }
};

// Where tap j reads for output i of a block: row i + tap_row[j] of phase
// tap_phase[j], that is the real part at values[i + offset[j]] and the
// imaginary part IMAG_OFFSET further on.
struct TapPlace {
  std::uint8_t phase[TAPS];
  std::uint8_t row[TAPS];
  std::uint32_t offset[TAPS];
};
constexpr std::uint64_t IMAG_OFFSET = PHASES * ROWS;

constexpr TapPlace make_tap_places() {
  TapPlace places{};
  for (std::uint64_t j = 0; j < TAPS; ++j) {
    places.phase[j] = static_cast<std::uint8_t>((LEAD - HALF + j) % PHASES);
    places.row[j] = static_cast<std::uint8_t>((LEAD - HALF + j) / PHASES);
    places.offset[j] = static_cast<std::uint32_t>(places.phase[j] * ROWS + places.row[j]);
  }
  return places;
}
constexpr TapPlace TAP_PLACES = make_tap_places();

// One mixed pair into its window place, narrowed to float as the mixer's
// output is.
[[gnu::always_inline]] inline void mix_pair(const float* pair, double cosine, double sine, double* re_slot,
                                            double* im_slot) {
  const double i_value = static_cast<double>(pair[0]);
  const double q_value = static_cast<double>(pair[1]);
  *re_slot = static_cast<float>(i_value * cosine - q_value * sine);
  *im_slot = static_cast<float>(i_value * sine + q_value * cosine);
}

// Mixes `count` pairs with their oscillator values into the window from
// (phase_index, row) on, and leaves both at the next place. Whole rows of
// five go in one step, with the five phases' places fixed.
void mix_stretch(const float* iq, const double* cosines, const double* sines, std::uint64_t count, const Window& window,
                 std::uint64_t& phase_index, std::uint64_t& row) {
  std::uint64_t t = 0;
  for (; t < count && phase_index != 0; ++t) {  // up to the next row start
    mix_pair(iq + 2 * t, cosines[t], sines[t], window.re(phase_index) + row, window.im(phase_index) + row);
    if (++phase_index == PHASES) {
      phase_index = 0;
      ++row;
    }
  }
  for (; t + PHASES <= count; t += PHASES, ++row) {
    for (std::uint64_t p = 0; p < PHASES; ++p) {
      mix_pair(iq + 2 * (t + p), cosines[t + p], sines[t + p], window.re(p) + row, window.im(p) + row);
    }
  }
  for (; t < count; ++t, ++phase_index) {  // phase_index stays below PHASES here
    mix_pair(iq + 2 * t, cosines[t], sines[t], window.re(phase_index) + row, window.im(phase_index) + row);
  }
}

// Mixes the pairs from the oscillator's next one up to end-1 into the window
// of the block at k0.
void mix_into_window(const float* iq, std::uint64_t end, std::uint64_t k0, double step, PhaseAccumulator& oscillator,
                     const Window& window) {
  double sines[OSCILLATOR_STRETCH];
  double cosines[OSCILLATOR_STRETCH];
  const std::uint64_t w = oscillator.index + LEAD - PHASES * k0;
  std::uint64_t phase_index = w % PHASES;
  std::uint64_t row = w / PHASES;
  for (std::uint64_t first = oscillator.index; first < end; first += OSCILLATOR_STRETCH) {
    const std::uint64_t count = std::min(end - first, OSCILLATOR_STRETCH);
    oscillator_values(oscillator, step, count, sines, cosines);
    mix_stretch(iq + 2 * first, cosines, sines, count, window, phase_index, row);
  }
}

// Output k0 + i for any i: only the pairs that exist contribute, in
// increasing order (a skipped position is not an added zero: +0.0 would turn
// a -0.0 sum into +0.0, which atan2 tells apart).
Complex edge_output(const Window& window, std::uint64_t pair_count, const double* taps, std::uint64_t k0,
                    std::uint64_t i) {
  const std::uint64_t centre = PHASES * (k0 + i);
  const std::uint64_t first = centre >= HALF ? centre - HALF : 0;
  const std::uint64_t last = centre + HALF < pair_count ? centre + HALF : pair_count - 1;
  double re = 0.0;
  double im = 0.0;
  for (std::uint64_t m = first; m <= last; ++m) {
    const std::uint64_t w = m + LEAD - PHASES * k0;
    const double t = taps[m + HALF - centre];
    re = re + window.re(w % PHASES)[w / PHASES] * t;
    im = im + window.im(w % PHASES)[w / PHASES] * t;
  }
  return Complex{re, im};
}

// Outputs k0 + i for i in [begin, end), all with their whole reach inside
// the capture, `LANES` at a time in vectors of type V, GROUPS vectors side by
// side so that independent sums hide the adder's latency.
template <typename V, int LANES, int GROUPS>
[[gnu::always_inline]] inline std::uint64_t interior_outputs_vector(const Window& window, const double* taps,
                                                                    std::uint64_t begin, std::uint64_t end,
                                                                    Complex* out) {
  constexpr std::uint64_t STRIDE = LANES * GROUPS;
  std::uint64_t i = begin;
  for (; i + STRIDE <= end; i += STRIDE) {
    V re[GROUPS] = {};
    V im[GROUPS] = {};
    for (std::uint64_t j = 0; j < TAPS; ++j) {
      V t;
      for (int l = 0; l < LANES; ++l) t[l] = taps[j];
      const double* re_row = window.values + i + TAP_PLACES.offset[j];
      const double* im_row = re_row + IMAG_OFFSET;
      // Unrolled so that the sums stay in registers: a sum kept in memory
      // waits for its own store on every tap.
#pragma GCC unroll 8
      for (int g = 0; g < GROUPS; ++g) {
        V x;
        V y;
        std::memcpy(&x, re_row + g * LANES, sizeof x);
        std::memcpy(&y, im_row + g * LANES, sizeof y);
        re[g] = re[g] + x * t;
        im[g] = im[g] + y * t;
      }
    }
    for (int g = 0; g < GROUPS; ++g) {
      for (int l = 0; l < LANES; ++l) out[i + static_cast<std::uint64_t>(g * LANES + l)] = Complex{re[g][l], im[g][l]};
    }
  }
  return i;
}

// The same sums one output at a time, for what the vector lanes leave over.
void interior_outputs_scalar(const Window& window, const double* taps, std::uint64_t begin, std::uint64_t end,
                             Complex* out) {
  for (std::uint64_t i = begin; i < end; ++i) {
    double re = 0.0;
    double im = 0.0;
    for (std::uint64_t j = 0; j < TAPS; ++j) {
      re = re + window.re(TAP_PLACES.phase[j])[i + TAP_PLACES.row[j]] * taps[j];
      im = im + window.im(TAP_PLACES.phase[j])[i + TAP_PLACES.row[j]] * taps[j];
    }
    out[i] = Complex{re, im};
  }
}

// Wider lanes where the processor has them. AVX2 only, never FMA: every
// product must be rounded before it is added.
__attribute__((target("avx2"))) std::uint64_t interior_outputs_avx2(const Window& window, const double* taps,
                                                                    std::uint64_t begin, std::uint64_t end,
                                                                    Complex* out) {
  return interior_outputs_vector<Double4, 4, 4>(window, taps, begin, end, out);
}

std::uint64_t interior_outputs_sse2(const Window& window, const double* taps, std::uint64_t begin, std::uint64_t end,
                                    Complex* out) {
  return interior_outputs_vector<Double2, 2, 4>(window, taps, begin, end, out);
}

void interior_outputs(const Window& window, const double* taps, std::uint64_t begin, std::uint64_t end, Complex* out) {
  const std::uint64_t done = use_avx2_lanes() ? interior_outputs_avx2(window, taps, begin, end, out)
                                              : interior_outputs_sse2(window, taps, begin, end, out);
  interior_outputs_scalar(window, taps, done, end, out);
}

// Moves the rows the next block shares with this one to the window's start.
void slide_window(const Window& window) {
  for (std::uint64_t p = 0; p < 2 * PHASES; ++p) {
    double* rows = window.values + p * ROWS;
    std::memmove(rows, rows + BLOCK, (ROWS - BLOCK) * sizeof(double));
  }
}

}  // namespace

void decimator_start(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz, const double* taps,
                     double* window, ChannelDecimator* decimator) {
  const double step = (static_cast<double>(offset_hz) * -TWO_PI) / static_cast<double>(IQ_SAMPLE_RATE);
  *decimator = ChannelDecimator{iq_samples, pair_count, taps, window, step, start_phase(0.0), 0};
}

std::uint64_t decimate_next_block(ChannelDecimator* decimator, Complex* out) {
  const std::uint64_t pair_count = decimator->pair_count;
  const std::uint64_t output_count = pair_count / DECIMATION_FACTOR;
  const std::uint64_t k0 = decimator->next_output;
  if (k0 >= output_count) return 0;
  const Window window{decimator->window};
  const double* taps = decimator->taps;
  // Outputs whose reach 5k-81 .. 5k+81 lies wholly inside the capture.
  const std::uint64_t interior_first = (HALF + PHASES - 1) / PHASES;
  const std::uint64_t interior_end = pair_count > HALF ? (pair_count - 1 - HALF) / PHASES + 1 : 0;

  const std::uint64_t count = std::min(output_count - k0, BLOCK);
  if (k0 > 0) slide_window(window);
  const std::uint64_t reach_end = PHASES * (k0 + count - 1) + HALF + 1;
  mix_into_window(decimator->iq_samples, std::min(reach_end, pair_count), k0, decimator->mixer_step,
                  decimator->mixer_phase, window);

  // Edge outputs, the interior ones, and edge outputs again: [0, lo), [lo, hi), [hi, count).
  const std::uint64_t lo = interior_first > k0 ? std::min(interior_first - k0, count) : 0;
  const std::uint64_t hi = std::max(interior_end > k0 ? std::min(interior_end - k0, count) : 0, lo);
  for (std::uint64_t i = 0; i < lo; ++i) out[i] = edge_output(window, pair_count, taps, k0, i);
  interior_outputs(window, taps, lo, hi, out);
  for (std::uint64_t i = hi; i < count; ++i) out[i] = edge_output(window, pair_count, taps, k0, i);
  decimator->next_output = k0 + count;
  return count;
}

void detail::mix_and_decimate(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz,
                              const double* taps, double* window, Complex* baseband) {
  ChannelDecimator decimator;
  decimator_start(iq_samples, pair_count, offset_hz, taps, window, &decimator);
  std::uint64_t done = 0;
  while (const std::uint64_t count = decimate_next_block(&decimator, baseband + done)) done += count;
}

}  // namespace kdsp
