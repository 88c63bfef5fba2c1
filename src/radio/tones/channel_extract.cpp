#include "radio/tones/channel_extract.h"

#include <cmath>

#include "base/numbers.h"
#include "formats/iq_capture.h"
#include "radio/base/fft_plan.h"
#include "radio/chain/kaiser_taps.h"
#include "radio/chain/liquid_owner.h"

namespace kdsp {

namespace {

constexpr std::size_t DECIMATION = 8;
static_assert(IQ_SAMPLE_RATE / DECIMATION == CHANNEL_RATE);
// Overlap-save: each transform of BLOCK pairs holds HISTORY pairs of the
// block before, where the filter (175 taps, fewer than HISTORY) is still
// filling, and STEP new pairs whose outputs are whole. The channel's bins
// span the decimated transform, OUTPUT_BINS wide: exactly the filter's stop
// band either side.
constexpr std::size_t BLOCK = 4096;
constexpr std::size_t HISTORY = 256;
constexpr std::size_t STEP = BLOCK - HISTORY;
constexpr std::size_t OUTPUT_BINS = BLOCK / DECIMATION;
constexpr double BIN_HZ = static_cast<double>(IQ_SAMPLE_RATE) / BLOCK;
constexpr float STOPBAND_DB = 60.0f;
static_assert(STEP % DECIMATION == 0 && HISTORY % DECIMATION == 0);

// The channel filter's response at the OUTPUT_BINS bins around 0 Hz (bin
// k' at index k' mod OUTPUT_BINS), with the forward transform's gain taken
// out; computed once per process.
const std::vector<std::complex<float>>& filter_response() {
  static const std::vector<std::complex<float>> response = [] {
    const auto transition = static_cast<float>((CHANNEL_STOP_HZ - CHANNEL_PASS_HZ) / IQ_SAMPLE_RATE);
    const unsigned length = estimate_req_filter_len(transition, STOPBAND_DB) | 1u;
    const auto taps =
        kaiser_taps_at(length, (CHANNEL_PASS_HZ + CHANNEL_STOP_HZ) / 2.0, IQ_SAMPLE_RATE, STOPBAND_DB, 0.0, 0.0);
    std::vector<std::complex<float>> bins(OUTPUT_BINS);
    for (std::size_t index = 0; index < OUTPUT_BINS; ++index) {
      const double bin = index < OUTPUT_BINS / 2 ? static_cast<double>(index)
                                                 : static_cast<double>(index) - static_cast<double>(OUTPUT_BINS);
      std::complex<double> sum = 0.0;
      for (std::size_t n = 0; n < taps.size(); ++n) {
        sum += taps[n] * std::polar(1.0, -TWO_PI * bin * static_cast<double>(n) / BLOCK);
      }
      bins[index] = std::complex<float>(sum / static_cast<double>(BLOCK));
    }
    return bins;
  }();
  return response;
}

}  // namespace

struct ChannelExtractState {
  long channel_bin = 0;  // the bin the channel is moved down from
  std::uint64_t blocks = 0;
  ForwardFft forward;  // its input holds the block being filled
  InverseFft inverse;
  std::size_t filled = HISTORY;  // the history starts as silence
};

void ChannelExtractRelease::operator()(ChannelExtractState* state) const { delete state; }

int create_channel_extract(double offset_hz, ChannelExtract* extract, Failure* failure) {
  filter_response();
  ChannelExtract made(new ChannelExtractState);
  if (made->forward.make(BLOCK) != 0 || made->inverse.make(OUTPUT_BINS) != 0) {
    *failure = Failure{"the channel's transforms could not be made (out of memory)"};
    return -1;
  }
  made->channel_bin = std::lround(offset_hz / BIN_HZ);
  std::fill(made->forward.input(), made->forward.input() + HISTORY, std::complex<float>{});
  *extract = std::move(made);
  return 0;
}

namespace {

// Transforms the full block, keeps the channel's bins weighted by the
// filter, and appends the whole decimated outputs.
void transform_block(ChannelExtractState& e, std::vector<std::complex<float>>* out) {
  e.forward.execute();
  const std::complex<float>* spectrum = e.forward.output();
  std::complex<float>* decimated = e.inverse.input();
  const auto& response = filter_response();
  const long half = static_cast<long>(OUTPUT_BINS / 2);
  for (long bin = -half; bin < half; ++bin) {
    const auto from = static_cast<std::size_t>(((e.channel_bin + bin) % static_cast<long>(BLOCK) + BLOCK) % BLOCK);
    const auto to = static_cast<std::size_t>((bin + static_cast<long>(OUTPUT_BINS)) % static_cast<long>(OUTPUT_BINS));
    decimated[to] = spectrum[from] * response[to];
  }
  e.inverse.execute();
  // Moving down by whole bins turns each block's start phase back to 0: the
  // oscillator it stands for has moved on by channel_bin * STEP / BLOCK
  // turns a block, which is put back.
  const std::uint64_t phase_steps = static_cast<std::uint64_t>(e.channel_bin) * STEP * e.blocks % BLOCK;
  const std::complex<float> rotation(std::polar(1.0, -TWO_PI * static_cast<double>(phase_steps) / BLOCK));
  const std::complex<float>* channel = e.inverse.output();
  for (std::size_t n = HISTORY / DECIMATION; n < OUTPUT_BINS; ++n) out->push_back(channel[n] * rotation);
  ++e.blocks;
}

}  // namespace

void extract_channel(ChannelExtractState& extract, std::span<const std::complex<float>> pairs,
                     std::vector<std::complex<float>>* out) {
  std::complex<float>* block = extract.forward.input();
  while (!pairs.empty()) {
    const std::size_t take = std::min(BLOCK - extract.filled, pairs.size());
    std::copy(pairs.begin(), pairs.begin() + static_cast<std::ptrdiff_t>(take), block + extract.filled);
    extract.filled += take;
    pairs = pairs.subspan(take);
    if (extract.filled < BLOCK) break;
    transform_block(extract, out);
    std::copy(block + STEP, block + BLOCK, block);
    extract.filled = HISTORY;
  }
}

}  // namespace kdsp
