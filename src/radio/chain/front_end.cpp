#include "radio/chain/front_end.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <type_traits>
#include <vector>

#include "base/numbers.h"
#include "radio/chain/kaiser_taps.h"
#include "radio/chain/liquid_owner.h"
#include "radio/io/channel_width.h"
#include "radio/kernel/core_run.h"

namespace kdsp {

namespace {

constexpr std::size_t INPUT_BLOCK_PAIRS = 65536;
// Output pairs beyond the filters' own delays thrown away at the start of a
// stretch, so that no kept output depends on the zero state the filters
// start from.
constexpr std::uint64_t SETTLE_PAIRS = 64;

bool is_whole_rate(double rate) { return rate == std::floor(rate) && rate < 9.0e15; }

double output_ratio(const FrontEndPlan& plan) { return CORE_PAIR_RATE / plan.input_rate; }

// The input sample at the instant of output pair `output`: exact on the grid.
std::int64_t input_position(const FrontEndPlan& plan, std::uint64_t output) {
  if (plan.output_grid != 0 && output % plan.output_grid == 0) {
    return static_cast<std::int64_t>(output / plan.output_grid * plan.input_grid);
  }
  return static_cast<std::int64_t>(std::llround(static_cast<long double>(output) * plan.input_rate / CORE_PAIR_RATE));
}

// The fraction of a turn the oscillator has made after `samples` input
// samples, counted from the recording's first pair.
double oscillator_turns(const FrontEndPlan& plan, long double samples) {
  const long double turns = static_cast<long double>(plan.shift_hz) * samples / plan.input_rate;
  return static_cast<double>(turns - std::floor(turns));
}

// The first stage's taps: a Kaiser low-pass at the input rate, of unit gain
// at 0 Hz, moved up to the channel, so that filtering with them and turning
// the decimated result down by the channel's phase equals translating first
// and filtering after, at a D-th of the oscillator's cost. Its length is
// 2 D (k + 1) - 1, so that its delay of (k + 1) D - 1 input samples puts
// every kept output's centre on an input sample that is a whole number of
// steps D from the first input fed.
//
// The complex taps are kept as their real and imaginary parts, two real
// filters over the same input (liquid's real-tap dot product is several times
// cheaper than its complex one); filtering with c + j s gives a + j b.
struct FirstStageTaps {
  std::vector<float> cosine;
  std::vector<float> sine;
};

FirstStageTaps first_stage_taps(const FrontEndPlan& plan, unsigned* delay_steps) {
  const double rate = plan.input_rate;
  const double decimated = rate / plan.decimation;
  const double stop = decimated - FRONT_END_PASSBAND_HZ;  // aliases land outside the kept band from here
  const double transition = (stop - FRONT_END_PASSBAND_HZ) / rate;
  const unsigned estimate = estimate_req_filter_len(static_cast<float>(transition), FRONT_END_STOPBAND_DB);
  const unsigned two_steps = 2 * plan.decimation;
  const unsigned k_plus_one = std::max(1u, (estimate + 1 + two_steps - 1) / two_steps);
  const unsigned length = two_steps * k_plus_one - 1;
  const std::vector<std::complex<double>> moved =
      kaiser_taps_at(length, (FRONT_END_PASSBAND_HZ + stop) / 2.0, rate, FRONT_END_STOPBAND_DB, plan.shift_hz, 0.0);
  FirstStageTaps taps{std::vector<float>(length), std::vector<float>(length)};
  for (unsigned n = 0; n < length; ++n) {
    taps.cosine[n] = static_cast<float>(moved[n].real());
    taps.sine[n] = static_cast<float>(moved[n].imag());
  }
  *delay_steps = k_plus_one - 1;
  return taps;
}

// The resampler's delay at 0 Hz in its output samples, measured: a ramp
// through it comes out as the same ramp later, scaled by its gain at 0 Hz.
// A straight line fitted to a long run of the output evens out the small
// differences in gain between the resampler's filter phases. (liquid's own
// figure for the delay does not match the filters it builds.)
// -1 when the probe could not be made (memory ran out).
double measured_resampler_delay(double stage_ratio) {
  constexpr std::size_t RAMP_START = 64;
  constexpr std::size_t FITTED = 2048;
  ResamplerOwner probe(msresamp_crcf_create(static_cast<float>(stage_ratio), FRONT_END_STOPBAND_DB));
  if (!probe) return -1.0;
  const auto length = static_cast<std::size_t>(std::ceil(8192.0 / stage_ratio));
  std::vector<std::complex<float>> ramp(length);
  for (std::size_t n = RAMP_START; n < length; ++n) ramp[n] = static_cast<float>(n - RAMP_START);
  std::vector<std::complex<float>> out(
      static_cast<std::size_t>(std::ceil(2.0 * stage_ratio * static_cast<double>(length))) + 64);
  unsigned made = 0;
  msresamp_crcf_execute(probe.get(), ramp.data(), static_cast<unsigned>(length), out.data(), &made);
  if (made < 2 * FITTED) return 0.0;
  // Least squares over outputs made - FITTED .. made - 1: y = slope j + intercept.
  double sj = 0.0, sy = 0.0, sjj = 0.0, sjy = 0.0;
  for (std::size_t j = made - FITTED; j < made; ++j) {
    const auto x = static_cast<double>(j);
    const auto y = static_cast<double>(out[j].real());
    sj += x;
    sy += y;
    sjj += x * x;
    sjy += x * y;
  }
  const auto n = static_cast<double>(FITTED);
  const double slope = (n * sjy - sj * sy) / (n * sjj - sj * sj);
  const double intercept = (sy - slope * sj) / n;
  // y_j = gain (instant_j - RAMP_START), instant_j = (j - delay) / ratio, gain = slope * ratio.
  const double gain = slope * stage_ratio;
  const double delay = stage_ratio * (-intercept / gain - static_cast<double>(RAMP_START));
  return std::max(0.0, delay);
}

// sum[i] += j * b[i], in flat loops that vectorise.
void add_times_j(const std::complex<float>* b, std::complex<float>* sum, std::size_t count) {
  const float* from = reinterpret_cast<const float*>(b);
  float* to = reinterpret_cast<float*>(sum);
  for (std::size_t i = 0; i < count; ++i) {
    to[2 * i] -= from[2 * i + 1];
    to[2 * i + 1] += from[2 * i];
  }
}

// The liquid objects of one stretch's conversion and where it starts.
struct Converter {
  DecimatorOwner decimator_cosine;  // none when the plan does not decimate first
  DecimatorOwner decimator_sine;
  NcoOwner nco;
  ResamplerOwner resampler;
  FilterOwner filter;
  std::int64_t input_start = 0;  // first input pair fed (may lie before the recording)
  std::uint64_t discard = 0;     // leading outputs that belong to the settling
};

int make_converter(const FrontEndPlan& plan, std::uint64_t first_output, Converter* converter, Failure* failure) {
  const double ratio = output_ratio(plan);
  const unsigned decimation = plan.decimation;
  // The resampler's ratio from the first stage's rate.
  const double stage_ratio = ratio * decimation;
  Converter made;
  unsigned delay_steps = 0;  // the first stage's delay, in its own outputs
  std::uint64_t first_stage_length = 0;
  if (decimation > 1) {
    FirstStageTaps taps = first_stage_taps(plan, &delay_steps);
    first_stage_length = taps.cosine.size();
    const auto length = static_cast<unsigned>(first_stage_length);
    made.decimator_cosine.reset(firdecim_crcf_create(decimation, taps.cosine.data(), length));
    made.decimator_sine.reset(firdecim_crcf_create(decimation, taps.sine.data(), length));
  }
  made.resampler.reset(msresamp_crcf_create(static_cast<float>(stage_ratio), FRONT_END_STOPBAND_DB));
  made.nco.reset(nco_crcf_create(LIQUID_VCO));
  if (plan.channel_width_hz > 0.0) {
    const auto cutoff = static_cast<float>(plan.channel_width_hz / 2.0 / CORE_PAIR_RATE);
    made.filter.reset(firfilt_crcf_create_kaiser(NARROW_FILTER_TAPS, cutoff, FRONT_END_STOPBAND_DB, 0.0f));
  }
  if (!made.resampler || !made.nco || (decimation > 1 && (!made.decimator_cosine || !made.decimator_sine)) ||
      (plan.channel_width_hz > 0.0 && !made.filter)) {
    *failure = Failure{"the front end's filters could not be made"};
    return -1;
  }
  // The delays of the first stage and the resampler, in output pairs.
  const double delay = plan.resampler_delay + delay_steps * stage_ratio;
  const std::uint64_t filter_delay = made.filter ? (NARROW_FILTER_TAPS - 1) / 2 : 0;
  // Settling input before the stretch, a whole number of grid steps so that
  // the stretch's first output falls on its instant.
  const double settle_outputs = std::ceil(delay) + std::ceil(static_cast<double>(first_stage_length) * ratio) +
                                static_cast<double>(filter_delay + SETTLE_PAIRS);
  std::uint64_t settle_inputs = 0;
  if (plan.output_grid != 0) {
    const auto settle_steps =
        static_cast<std::uint64_t>(std::ceil(settle_outputs / static_cast<double>(plan.output_grid)));
    settle_inputs = settle_steps * plan.input_grid;
  } else {
    settle_inputs = static_cast<std::uint64_t>(std::ceil(settle_outputs / ratio));
  }
  made.input_start = input_position(plan, first_output) - static_cast<std::int64_t>(settle_inputs);
  // The output at the stretch's first instant comes after the settling
  // outputs and the delays; the channel filter delays it further.
  const double settled = static_cast<double>(settle_inputs) * ratio + delay;
  made.discard = static_cast<std::uint64_t>(std::llround(settled)) + filter_delay;

  // The oscillator runs at the first stage's output rate; each of its
  // samples stands for the newest input the first stage took in, and its
  // phase is that of an oscillator run from the recording's first pair.
  const double step_turns = oscillator_turns(plan, decimation);
  nco_crcf_set_frequency(made.nco.get(), static_cast<float>(TWO_PI * step_turns));
  const double phase_turns = oscillator_turns(plan, static_cast<long double>(made.input_start) + (decimation - 1));
  nco_crcf_set_phase(made.nco.get(), static_cast<float>(TWO_PI * phase_turns));
  *converter = std::move(made);
  return 0;
}

int convert_through_filters(const FrontEndPlan& plan, RecordingReader& reader, std::uint64_t first_output,
                            std::uint64_t count, std::complex<float>* out, Failure* failure) {
  Converter converter;
  if (make_converter(plan, first_output, &converter, failure) != 0) return -1;
  const double ratio = output_ratio(plan);
  const std::size_t block = plan.decimation * std::max<std::size_t>(1, INPUT_BLOCK_PAIRS / plan.decimation);
  const std::size_t decimated_block = block / plan.decimation;
  std::vector<std::complex<float>> input(block);
  const bool decimating = converter.decimator_cosine != nullptr;
  std::vector<std::complex<float>> decimated(decimating ? decimated_block : 0);
  std::vector<std::complex<float>> decimated_sine(decimating ? decimated_block : 0);
  const auto room = static_cast<std::size_t>(std::ceil(2.0 * ratio * static_cast<double>(block))) + 64;
  std::vector<std::complex<float>> resampled(room);
  std::vector<std::complex<float>> filtered(room);
  std::uint64_t produced = 0;  // outputs of the chain so far
  const std::uint64_t wanted_end = converter.discard + count;
  for (std::int64_t at = converter.input_start; produced < wanted_end; at += static_cast<std::int64_t>(block)) {
    if (read_recording_pairs(reader, at, block, input.data(), failure) != 0) return -1;
    std::complex<float>* stage = input.data();
    std::size_t stage_count = block;
    if (decimating) {
      const auto outputs = static_cast<unsigned>(decimated_block);
      firdecim_crcf_execute_block(converter.decimator_cosine.get(), input.data(), outputs, decimated.data());
      firdecim_crcf_execute_block(converter.decimator_sine.get(), input.data(), outputs, decimated_sine.data());
      add_times_j(decimated_sine.data(), decimated.data(), decimated_block);
      stage = decimated.data();
      stage_count = decimated_block;
    }
    nco_crcf_mix_block_down(converter.nco.get(), stage, stage, static_cast<unsigned>(stage_count));
    unsigned made = 0;
    msresamp_crcf_execute(converter.resampler.get(), stage, static_cast<unsigned>(stage_count), resampled.data(),
                          &made);
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

unsigned first_stage_decimation(double input_rate) {
  const double steps = std::floor(input_rate / (FIRST_STAGE_MIN_RATE_FACTOR * CORE_PAIR_RATE));
  return steps >= 2.0 ? static_cast<unsigned>(std::min(steps, 4096.0)) : 1;
}

int plan_front_end(double input_rate, std::uint64_t input_pair_count, double offset_hz, double channel_width_hz,
                   FrontEndPlan* front_end, Failure* failure) {
  FrontEndPlan plan;
  plan.input_rate = input_rate;
  plan.input_pair_count = input_pair_count;
  plan.channel_width_hz = channel_width_hz > 0.0 && channel_width_hz < CHANNEL_WIDTH_HZ ? channel_width_hz : 0.0;
  const double placed = std::round(offset_hz);
  plan.pass_through =
      input_rate == CORE_PAIR_RATE && plan.channel_width_hz == 0.0 && std::fabs(placed) <= CORE_MAX_OFFSET_HZ;
  if (plan.pass_through) {
    plan.placed_offset_hz = static_cast<std::int32_t>(placed);
    plan.output_pair_count = input_pair_count;
    plan.output_grid = 1;
    plan.input_grid = 1;
    *front_end = plan;
    return 0;
  }
  plan.shift_hz = offset_hz;
  plan.placed_offset_hz = 0;
  plan.decimation = first_stage_decimation(input_rate);
  plan.resampler_delay = measured_resampler_delay(CORE_PAIR_RATE / input_rate * plan.decimation);
  if (plan.resampler_delay < 0.0) {
    *failure = Failure{"the front end's resampler could not be made (out of memory)"};
    return -1;
  }
  plan.output_pair_count =
      static_cast<std::uint64_t>(std::floor(static_cast<long double>(input_pair_count) * CORE_PAIR_RATE / input_rate));
  if (is_whole_rate(input_rate)) {
    const auto rate = static_cast<std::uint64_t>(input_rate);
    const std::uint64_t common = std::gcd(rate, std::uint64_t{CORE_PAIR_RATE});
    plan.output_grid = CORE_PAIR_RATE / common;
    plan.input_grid = rate / common;
  }
  *front_end = plan;
  return 0;
}

int convert_span(const FrontEndPlan& plan, RecordingReader& reader, std::uint64_t first_output, std::uint64_t count,
                 std::complex<float>* out, Failure* failure) {
  if (plan.pass_through) {
    return read_recording_pairs(reader, static_cast<std::int64_t>(first_output), count, out, failure);
  }
  return convert_through_filters(plan, reader, first_output, count, out, failure);
}

}  // namespace kdsp
