#include "radio/chain/capture_filter.h"

#include <algorithm>
#include <cmath>

#include "base/numbers.h"
#include "radio/chain/front_end.h"
#include "radio/chain/kaiser_taps.h"
#include "radio/chain/liquid_owner.h"
#include "radio/kernel/core_run.h"

namespace kdsp {

namespace {

// Pairs per transform block: at least the taps less one, as fftfilt needs.
constexpr unsigned FILTER_BLOCK_PAIRS = 1024;
static_assert(FILTER_BLOCK_PAIRS >= NARROW_FILTER_TAPS - 1);

}  // namespace

std::vector<std::complex<float>> channel_filter_taps(double width_hz, double offset_hz) {
  const std::vector<std::complex<double>> moved =
      kaiser_taps_at(NARROW_FILTER_TAPS, width_hz / 2.0, CORE_PAIR_RATE, FRONT_END_STOPBAND_DB, offset_hz,
                     (NARROW_FILTER_TAPS - 1) / 2.0);
  return std::vector<std::complex<float>>(moved.begin(), moved.end());
}

int filter_capture(std::span<const std::complex<float>> taps, std::vector<std::complex<float>>* pairs,
                   Failure* failure) {
  FftFilterOwner filter(create_fft_filter(const_cast<std::complex<float>*>(taps.data()),
                                          static_cast<unsigned>(taps.size()), FILTER_BLOCK_PAIRS));
  if (!filter) {
    *failure = Failure{"the channel filter could not be made"};
    return -1;
  }
  // Output k holds input k - delay: run on past the end by the delay, on
  // zeros, and keep the outputs from the delay on.
  const std::size_t delay = (taps.size() - 1) / 2;
  const std::size_t count = pairs->size();
  const std::size_t blocks = (count + delay + FILTER_BLOCK_PAIRS - 1) / FILTER_BLOCK_PAIRS;
  std::vector<std::complex<float>> input(blocks * FILTER_BLOCK_PAIRS);
  std::copy(pairs->begin(), pairs->end(), input.begin());
  std::vector<std::complex<float>> output(input.size());
  for (std::size_t b = 0; b < blocks; ++b) {
    fftfilt_cccf_execute(filter.get(), input.data() + b * FILTER_BLOCK_PAIRS, output.data() + b * FILTER_BLOCK_PAIRS);
  }
  std::copy(output.begin() + static_cast<std::ptrdiff_t>(delay),
            output.begin() + static_cast<std::ptrdiff_t>(delay + count), pairs->begin());
  return 0;
}

}  // namespace kdsp
