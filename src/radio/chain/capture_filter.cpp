#include "radio/chain/capture_filter.h"

#include <liquid/liquid.h>

#include <algorithm>
#include <cmath>

#include "base/numbers.h"
#include "radio/chain/front_end.h"
#include "radio/chain/liquid_owner.h"
#include "radio/kernel/core_run.h"

namespace kdsp {

namespace {

// Pairs per transform block: at least the taps less one, as fftfilt needs.
constexpr unsigned FILTER_BLOCK_PAIRS = 1024;
static_assert(FILTER_BLOCK_PAIRS >= CHANNEL_FILTER_TAPS - 1);

fftfilt_cccf create_filter(std::span<const std::complex<float>> taps) {
  const std::lock_guard hold(fftw_planner_lock());
  return fftfilt_cccf_create(const_cast<std::complex<float>*>(taps.data()), static_cast<unsigned>(taps.size()),
                             FILTER_BLOCK_PAIRS);
}

int destroy_filter(fftfilt_cccf filter) {
  const std::lock_guard hold(fftw_planner_lock());
  return fftfilt_cccf_destroy(filter);
}

using CaptureFilterOwner = LiquidOwner<fftfilt_cccf, destroy_filter>;

}  // namespace

std::vector<std::complex<float>> channel_filter_taps(double width_hz, double offset_hz) {
  std::vector<float> low_pass(CHANNEL_FILTER_TAPS);
  liquid_firdes_kaiser(CHANNEL_FILTER_TAPS, static_cast<float>(width_hz / 2.0 / CORE_PAIR_RATE), FRONT_END_STOPBAND_DB,
                       0.0f, low_pass.data());
  double gain = 0.0;
  for (float tap : low_pass) gain += tap;
  std::vector<std::complex<float>> taps(CHANNEL_FILTER_TAPS);
  const double middle = (CHANNEL_FILTER_TAPS - 1) / 2.0;
  for (unsigned n = 0; n < CHANNEL_FILTER_TAPS; ++n) {
    const double turns = offset_hz * (static_cast<double>(n) - middle) / CORE_PAIR_RATE;
    taps[n] = std::complex<float>(std::polar(low_pass[n] / gain, TWO_PI * turns));
  }
  return taps;
}

int filter_capture(std::span<const std::complex<float>> taps, std::vector<std::complex<float>>* pairs,
                   std::string* error) {
  CaptureFilterOwner filter(create_filter(taps));
  if (!filter) {
    *error = "the channel filter could not be made";
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
