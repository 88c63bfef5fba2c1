#include "radio/tones/subaudible_demod.h"

#include <cmath>

#include "dsp/fm_demod.h"
#include "radio/chain/kaiser_taps.h"
#include "radio/chain/liquid_owner.h"
#include "radio/tones/channel_extract.h"

namespace kdsp {

namespace {

// 30 000 -> 6000 -> 1200 samples/s: the first stage need only keep what
// would fold onto the band away (a short filter), the second cuts the band.
constexpr unsigned STAGE_DECIMATION = 5;
constexpr unsigned SUBAUDIBLE_DECIMATION = STAGE_DECIMATION * STAGE_DECIMATION;
constexpr double MIDDLE_RATE = CHANNEL_RATE / STAGE_DECIMATION;
static_assert(SUBAUDIBLE_DECIMATION * SUBAUDIBLE_RATE == CHANNEL_RATE);
constexpr float STOPBAND_DB = 60.0f;
// Pairs taken per step: bounds the scratch buffers whatever block the
// caller hands over.
constexpr std::size_t STEP_PAIRS = 24000;
// The discriminator's output is kept only where a carrier holds the channel:
// without one it reads noise whose frequency swings over the whole band,
// far louder than any tone (kdsp-rx hands each transmission on with a
// fifth of a second of the empty channel either side). An FM carrier has a
// constant envelope, noise a Rayleigh one: over blocks of 10 ms, E|x|^4
// over (E|x|^2)^2 is 1 for a bare carrier, 1.2 at 10 dB over the noise in
// the channel, 2 for noise alone. A block gives whole sub-audible samples.
constexpr std::size_t GATE_BLOCK = 300;
constexpr double CARRIER_MAX_ENVELOPE_KURTOSIS = 1.5;
static_assert(GATE_BLOCK % SUBAUDIBLE_DECIMATION == 0);

using FreqdemOwner = LiquidOwner<freqdem, freqdem_destroy>;
using RealDecimatorOwner = LiquidOwner<firdecim_rrrf, firdecim_rrrf_destroy>;

// Kaiser low-pass taps at `rate` (unit gain at 0 Hz, so that the band
// stays in Hz), cut midway between the pass and stop edges.
std::vector<float> low_pass_taps(double rate, double pass_hz, double stop_hz) {
  const auto transition = static_cast<float>((stop_hz - pass_hz) / rate);
  const unsigned length = estimate_req_filter_len(transition, STOPBAND_DB) | 1u;
  const auto moved = kaiser_taps_at(length, (pass_hz + stop_hz) / 2.0, rate, STOPBAND_DB, 0.0, 0.0);
  std::vector<float> taps(length);
  for (unsigned n = 0; n < length; ++n) taps[n] = static_cast<float>(moved[n].real());
  return taps;
}

// liquid designs a Kaiser window in milliseconds: once per process.
std::vector<float>& first_stage_taps() {
  static std::vector<float> taps = low_pass_taps(CHANNEL_RATE, SUBAUDIBLE_STOP_HZ, MIDDLE_RATE - SUBAUDIBLE_STOP_HZ);
  return taps;
}

std::vector<float>& second_stage_taps() {
  static std::vector<float> taps = low_pass_taps(MIDDLE_RATE, SUBAUDIBLE_PASS_HZ, SUBAUDIBLE_STOP_HZ);
  return taps;
}

RealDecimatorOwner make_decimator(std::vector<float>& taps) {
  return RealDecimatorOwner(firdecim_rrrf_create(STAGE_DECIMATION, taps.data(), static_cast<unsigned>(taps.size())));
}

bool holds_carrier(const std::complex<float>* block) {
  double power = 0.0;
  double square_power = 0.0;
  for (std::size_t n = 0; n < GATE_BLOCK; ++n) {
    const double p = std::norm(block[n]);
    power += p;
    square_power += p * p;
  }
  return power > 0.0 && square_power * GATE_BLOCK < CARRIER_MAX_ENVELOPE_KURTOSIS * power * power;
}

}  // namespace

struct SubaudibleDemodState {
  ChannelExtract channel;
  FreqdemOwner discriminator;
  RealDecimatorOwner first_stage;
  RealDecimatorOwner second_stage;
  std::vector<std::complex<float>> narrowed;  // the channel, not yet a whole gate block
  std::vector<float> deviation_hz;            // the gated blocks' frequency
  std::vector<float> middle;                  // after the first stage
};

void SubaudibleDemodRelease::operator()(SubaudibleDemodState* state) const { delete state; }

int create_subaudible_demod(double placed_offset_hz, SubaudibleDemod* demod, Failure* failure) {
  if (!(std::fabs(placed_offset_hz) <= FMDEMOD_MAX_OFFSET_HZ)) {
    *failure = Failure{"the channel lies outside the capture's reach"};
    return -1;
  }
  SubaudibleDemod made(new SubaudibleDemodState);
  if (create_channel_extract(placed_offset_hz, &made->channel, failure) != 0) return -1;
  // freqdem reads the phase step over 2 pi kf: kf = 1 / rate gives Hz.
  made->discriminator.reset(freqdem_create(static_cast<float>(1.0 / CHANNEL_RATE)));
  made->first_stage = make_decimator(first_stage_taps());
  made->second_stage = make_decimator(second_stage_taps());
  if (!made->discriminator || !made->first_stage || !made->second_stage) {
    *failure = Failure{"the tone demodulator's filters could not be made"};
    return -1;
  }
  *demod = std::move(made);
  return 0;
}

namespace {

// Reads the frequency of the whole gate blocks of the channel, 0 where no
// carrier holds a block, and decimates it onto `*out`.
void demodulate_blocks(SubaudibleDemodState& demod, std::vector<float>* out) {
  const std::size_t blocks = demod.narrowed.size() / GATE_BLOCK;
  demod.deviation_hz.resize(blocks * GATE_BLOCK);
  for (std::size_t b = 0; b < blocks; ++b) {
    std::complex<float>* pairs = demod.narrowed.data() + b * GATE_BLOCK;
    float* hz = demod.deviation_hz.data() + b * GATE_BLOCK;
    // The discriminator runs on every block, so its last pair stays the
    // one before the next block's first.
    freqdem_demodulate_block(demod.discriminator.get(), pairs, GATE_BLOCK, hz);
    if (!holds_carrier(pairs)) std::fill(hz, hz + GATE_BLOCK, 0.0f);
  }
  demod.narrowed.erase(demod.narrowed.begin(),
                       demod.narrowed.begin() + static_cast<std::ptrdiff_t>(blocks * GATE_BLOCK));
  const std::size_t outputs = blocks * GATE_BLOCK / SUBAUDIBLE_DECIMATION;
  demod.middle.resize(outputs * STAGE_DECIMATION);
  firdecim_rrrf_execute_block(demod.first_stage.get(), demod.deviation_hz.data(),
                              static_cast<unsigned>(demod.middle.size()), demod.middle.data());
  const std::size_t first = out->size();
  out->resize(first + outputs);
  firdecim_rrrf_execute_block(demod.second_stage.get(), demod.middle.data(), static_cast<unsigned>(outputs),
                              out->data() + first);
}

}  // namespace

void demodulate_subaudible(SubaudibleDemodState& demod, std::span<const std::complex<float>> pairs,
                           std::vector<float>* out) {
  for (std::size_t at = 0; at < pairs.size(); at += STEP_PAIRS) {
    extract_channel(*demod.channel, pairs.subspan(at, std::min(STEP_PAIRS, pairs.size() - at)), &demod.narrowed);
    demodulate_blocks(demod, out);
  }
}

}  // namespace kdsp
