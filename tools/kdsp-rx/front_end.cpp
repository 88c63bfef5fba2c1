#include "kdsp-rx/front_end.h"

#include <liquid/liquid.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <numeric>
#include <type_traits>
#include <vector>

#include "kdsp-rx/core_run.h"

namespace kdsp {

namespace {

constexpr std::size_t INPUT_BLOCK_PAIRS = 65536;
// Output pairs beyond the filters' own delays thrown away at the start of a
// stretch, so that no kept output depends on the zero state the filters
// start from.
constexpr std::uint64_t SETTLE_PAIRS = 64;

struct NcoRelease {
  void operator()(nco_crcf q) const { nco_crcf_destroy(q); }
};
struct ResamplerRelease {
  void operator()(msresamp_crcf q) const { msresamp_crcf_destroy(q); }
};
struct FilterRelease {
  void operator()(firfilt_crcf q) const { firfilt_crcf_destroy(q); }
};
using NcoOwner = std::unique_ptr<std::remove_pointer_t<nco_crcf>, NcoRelease>;
using ResamplerOwner = std::unique_ptr<std::remove_pointer_t<msresamp_crcf>, ResamplerRelease>;
using FilterOwner = std::unique_ptr<std::remove_pointer_t<firfilt_crcf>, FilterRelease>;

bool is_whole_rate(double rate) { return rate == std::floor(rate) && rate < 9.0e15; }

double output_ratio(const FrontEndPlan& plan) { return CORE_PAIR_RATE / plan.input_rate; }

// The input sample at the instant of output pair `output`: exact on the grid.
std::int64_t input_position(const FrontEndPlan& plan, std::uint64_t output) {
  if (plan.output_grid != 0 && output % plan.output_grid == 0) {
    return static_cast<std::int64_t>(output / plan.output_grid * plan.input_grid);
  }
  return static_cast<std::int64_t>(std::llround(static_cast<long double>(output) * plan.input_rate / CORE_PAIR_RATE));
}

// The liquid objects of one stretch's conversion and where it starts.
struct Converter {
  NcoOwner nco;
  ResamplerOwner resampler;
  FilterOwner filter;
  std::int64_t input_start = 0;  // first input pair fed (may lie before the recording)
  std::uint64_t discard = 0;     // leading outputs that belong to the settling
};

int make_converter(const FrontEndPlan& plan, std::uint64_t first_output, Converter* converter, std::string* error) {
  const double ratio = output_ratio(plan);
  Converter made;
  made.resampler.reset(msresamp_crcf_create(static_cast<float>(ratio), FRONT_END_STOPBAND_DB));
  made.nco.reset(nco_crcf_create(LIQUID_VCO));
  if (plan.channel_width_hz > 0.0) {
    const auto cutoff = static_cast<float>(plan.channel_width_hz / 2.0 / CORE_PAIR_RATE);
    made.filter.reset(firfilt_crcf_create_kaiser(CHANNEL_FILTER_TAPS, cutoff, FRONT_END_STOPBAND_DB, 0.0f));
  }
  if (!made.resampler || !made.nco || (plan.channel_width_hz > 0.0 && !made.filter)) {
    *error = "the front end's filters could not be made";
    return -1;
  }
  const double delay = msresamp_crcf_get_delay(made.resampler.get());
  const std::uint64_t filter_delay = made.filter ? (CHANNEL_FILTER_TAPS - 1) / 2 : 0;
  // Settling input before the stretch, a whole number of grid steps so that
  // the stretch's first output falls on its instant.
  const double settle_outputs = std::ceil(delay) + static_cast<double>(filter_delay + SETTLE_PAIRS);
  std::uint64_t settle_steps = 0;
  std::uint64_t settle_inputs = 0;
  if (plan.output_grid != 0) {
    settle_steps = static_cast<std::uint64_t>(std::ceil(settle_outputs / static_cast<double>(plan.output_grid)));
    settle_inputs = settle_steps * plan.input_grid;
  } else {
    settle_inputs = static_cast<std::uint64_t>(std::ceil(settle_outputs / ratio));
  }
  made.input_start = input_position(plan, first_output) - static_cast<std::int64_t>(settle_inputs);
  // The output at the stretch's first instant comes after the settling
  // outputs and the resampler's delay; the channel filter delays it further.
  const double settled = static_cast<double>(settle_inputs) * ratio + delay;
  made.discard = static_cast<std::uint64_t>(std::llround(settled)) + filter_delay;

  nco_crcf_set_frequency(made.nco.get(), static_cast<float>(2.0 * std::numbers::pi * plan.shift_hz / plan.input_rate));
  // The oscillator's phase at the first input fed, as if it had run from the
  // recording's first pair.
  const long double turns = static_cast<long double>(plan.shift_hz) * made.input_start / plan.input_rate;
  const auto phase = static_cast<double>(2.0L * std::numbers::pi_v<long double> * (turns - std::floor(turns)));
  nco_crcf_set_phase(made.nco.get(), static_cast<float>(phase));
  *converter = std::move(made);
  return 0;
}

int convert_through_filters(const FrontEndPlan& plan, RecordingReader& reader, std::uint64_t first_output,
                            std::uint64_t count, std::complex<float>* out, std::string* error) {
  Converter converter;
  if (make_converter(plan, first_output, &converter, error) != 0) return -1;
  const double ratio = output_ratio(plan);
  std::vector<std::complex<float>> input(INPUT_BLOCK_PAIRS);
  const auto room = static_cast<std::size_t>(std::ceil(2.0 * ratio * INPUT_BLOCK_PAIRS)) + 64;
  std::vector<std::complex<float>> resampled(room);
  std::vector<std::complex<float>> filtered(room);
  std::uint64_t produced = 0;  // outputs of the chain so far
  const std::uint64_t wanted_end = converter.discard + count;
  for (std::int64_t at = converter.input_start; produced < wanted_end; at += INPUT_BLOCK_PAIRS) {
    if (read_recording_pairs(reader, at, INPUT_BLOCK_PAIRS, input.data(), error) != 0) return -1;
    nco_crcf_mix_block_down(converter.nco.get(), input.data(), input.data(), INPUT_BLOCK_PAIRS);
    unsigned made = 0;
    msresamp_crcf_execute(converter.resampler.get(), input.data(), INPUT_BLOCK_PAIRS, resampled.data(), &made);
    const std::complex<float>* chain_out = resampled.data();
    if (converter.filter) {
      firfilt_crcf_execute_block(converter.filter.get(), resampled.data(), made, filtered.data());
      chain_out = filtered.data();
    }
    // Keep the outputs that fall in [discard, discard + count).
    const std::uint64_t block_end = produced + made;
    const std::uint64_t keep_begin = std::max(produced, converter.discard);
    const std::uint64_t keep_end = std::min(block_end, wanted_end);
    if (keep_begin < keep_end) {
      std::copy(chain_out + (keep_begin - produced), chain_out + (keep_end - produced),
                out + (keep_begin - converter.discard));
    }
    produced = block_end;
  }
  return 0;
}

}  // namespace

FrontEndPlan plan_front_end(double input_rate, std::uint64_t input_pair_count, double offset_hz,
                            double channel_width_hz) {
  FrontEndPlan plan;
  plan.input_rate = input_rate;
  plan.input_pair_count = input_pair_count;
  plan.channel_width_hz =
      channel_width_hz > 0.0 && channel_width_hz < VOICE_CHAIN_CHANNEL_WIDTH_HZ ? channel_width_hz : 0.0;
  const double placed = std::round(offset_hz);
  plan.pass_through =
      input_rate == CORE_PAIR_RATE && plan.channel_width_hz == 0.0 && std::fabs(placed) <= CORE_MAX_OFFSET_HZ;
  if (plan.pass_through) {
    plan.placed_offset_hz = static_cast<std::int32_t>(placed);
    plan.output_pair_count = input_pair_count;
    plan.output_grid = 1;
    plan.input_grid = 1;
    return plan;
  }
  plan.shift_hz = offset_hz;
  plan.placed_offset_hz = 0;
  plan.output_pair_count =
      static_cast<std::uint64_t>(std::floor(static_cast<long double>(input_pair_count) * CORE_PAIR_RATE / input_rate));
  if (is_whole_rate(input_rate)) {
    const auto rate = static_cast<std::uint64_t>(input_rate);
    const std::uint64_t common = std::gcd(rate, std::uint64_t{CORE_PAIR_RATE});
    plan.output_grid = CORE_PAIR_RATE / common;
    plan.input_grid = rate / common;
  }
  return plan;
}

int convert_span(const FrontEndPlan& plan, RecordingReader& reader, std::uint64_t first_output, std::uint64_t count,
                 std::complex<float>* out, std::string* error) {
  if (plan.pass_through) {
    return read_recording_pairs(reader, static_cast<std::int64_t>(first_output), count, out, error);
  }
  return convert_through_filters(plan, reader, first_output, count, out, error);
}

}  // namespace kdsp
