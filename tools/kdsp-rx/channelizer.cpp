#include "kdsp-rx/channelizer.h"

#include <liquid/liquid.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

#include "base/numbers.h"
#include "kdsp-rx/core_run.h"
#include "kdsp-rx/liquid_owner.h"

namespace kdsp {

namespace {

constexpr std::size_t BLOCK_OUTPUTS = 8192;  // bank outputs per block
// The part of a recording at the core's rate whose noise is taken as flat.
constexpr double PASS_THROUGH_REFERENCE_HZ = 100000.0;
// The part of a bin that is flat, as a fraction of the bins' rate either side.
constexpr double BIN_FLAT_FRACTION = 0.35;

// One channel's chain after the bank, and what it has handed on.
struct ChannelChain {
  ResamplerOwner resampler;
  NcoOwner nco;
  std::vector<std::complex<float>> bin_pairs;
  std::vector<std::complex<float>> resampled;
  std::uint64_t to_drop = 0;  // leading outputs of the filters' delay
  std::uint64_t emitted = 0;
};

double bin_rate(const ChannelizerPlan& plan) { return plan.input_rate / plan.decimation; }

double resample_ratio(const ChannelizerPlan& plan) { return CORE_PAIR_RATE / bin_rate(plan); }

int make_chain(const ChannelizerPlan& plan, const ChannelPlacement& channel, ChannelChain* chain, std::string* error) {
  const double ratio = resample_ratio(plan);
  double delay = 2.0 * CHANNELIZER_SEMI_LENGTH * ratio;
  if (ratio != 1.0) {
    chain->resampler.reset(msresamp_crcf_create(static_cast<float>(ratio), CHANNELIZER_STOPBAND_DB));
    if (!chain->resampler) {
      *error = "the channel filters could not be made";
      return -1;
    }
    delay += msresamp_crcf_get_delay(chain->resampler.get());
  }
  chain->nco.reset(nco_crcf_create(LIQUID_VCO));
  if (!chain->nco) {
    *error = "the channel filters could not be made";
    return -1;
  }
  nco_crcf_set_frequency(chain->nco.get(), static_cast<float>(TWO_PI * channel.residual_hz / CORE_PAIR_RATE));
  chain->to_drop = static_cast<std::uint64_t>(std::llround(delay));
  chain->bin_pairs.resize(BLOCK_OUTPUTS);
  chain->resampled.resize(static_cast<std::size_t>(std::ceil(2.0 * ratio * BLOCK_OUTPUTS)) + 64);
  return 0;
}

// Hands on the part of `pairs` after the delay and before the capture's end.
int emit_channel(const ChannelizerPlan& plan, std::size_t index, ChannelChain& chain, std::complex<float>* pairs,
                 std::size_t count, const ChannelSink& sink, std::string* error) {
  const std::size_t skip = static_cast<std::size_t>(std::min<std::uint64_t>(chain.to_drop, count));
  chain.to_drop -= skip;
  const auto room = static_cast<std::size_t>(plan.output_pair_count - chain.emitted);
  const std::size_t keep = std::min(count - skip, room);
  if (keep == 0) return 0;
  chain.emitted += keep;
  return sink(index, pairs + skip, keep, error);
}

}  // namespace

ChannelizerPlan plan_channelizer(double input_rate, std::uint64_t input_pair_count,
                                 const std::vector<double>& offsets_hz, double channel_half_width_hz) {
  ChannelizerPlan plan;
  plan.input_rate = input_rate;
  plan.input_pair_count = input_pair_count;
  plan.decimation = static_cast<unsigned>(std::max(1.0, std::floor(input_rate / CORE_PAIR_RATE)));
  plan.bins = 2 * plan.decimation;
  plan.output_pair_count =
      static_cast<std::uint64_t>(std::floor(static_cast<long double>(input_pair_count) * CORE_PAIR_RATE / input_rate));
  const double spacing = input_rate / plan.bins;
  const double flat_hz = BIN_FLAT_FRACTION * bin_rate(plan);
  for (double offset : offsets_hz) {
    ChannelPlacement channel;
    channel.offset_hz = offset;
    channel.bands.channel_half_width_hz = channel_half_width_hz;
    const double placed = std::round(offset);
    if (input_rate == CORE_PAIR_RATE && std::fabs(placed) <= CORE_MAX_OFFSET_HZ) {
      channel.pass_through = true;
      channel.placed_offset_hz = static_cast<std::int32_t>(placed);
      channel.bands.channel_offset_hz = placed;
      channel.bands.reference_low_hz = -PASS_THROUGH_REFERENCE_HZ;
      channel.bands.reference_high_hz = PASS_THROUGH_REFERENCE_HZ;
    } else {
      plan.needs_bank = true;
      const auto k = static_cast<long long>(std::llround(offset / spacing));
      const auto bins = static_cast<long long>(plan.bins);
      channel.bin = static_cast<unsigned>(((k % bins) + bins) % bins);
      channel.residual_hz = offset - static_cast<double>(k) * spacing;
      // The bin's flat part, as it lies in the placed capture.
      channel.bands.reference_low_hz = std::max(-PASS_THROUGH_REFERENCE_HZ, -channel.residual_hz - flat_hz);
      channel.bands.reference_high_hz = std::min(PASS_THROUGH_REFERENCE_HZ, -channel.residual_hz + flat_hz);
    }
    plan.channels.push_back(channel);
  }
  return plan;
}

namespace {

// One block of the recording as the reading thread hands it on: the input
// pairs (what pass-through channels take) and each channel's bin outputs.
struct SplitBlock {
  std::vector<std::complex<float>> input;
  std::vector<std::vector<std::complex<float>>> bins;  // per channel; empty for pass-through
  bool full = false;
  bool failed = false;
};

// Two blocks in turn between the thread that reads and splits the recording
// and the thread that resamples, mixes and hands each channel on, so that
// the two halves of the work overlap; the order of everything handed on is
// that of a single thread.
struct SplitPipeline {
  std::mutex lock;
  std::condition_variable changed;
  SplitBlock blocks[2];
  bool stop = false;
  std::string error;
};

void split_blocks(const ChannelizerPlan& plan, const RecordingInfo& recording, std::atomic<std::uint64_t>* input_done,
                  SplitPipeline& pipe) {
  std::string error;
  RecordingReader reader;
  BankOwner bank;
  bool ready = open_recording_reader(recording, &reader, &error) == 0;
  if (ready && plan.needs_bank) {
    bank.reset(
        firpfbchr_crcf_create_kaiser(plan.bins, plan.decimation, CHANNELIZER_SEMI_LENGTH, CHANNELIZER_STOPBAND_DB));
    if (!bank) {
      error = "the channel filter bank could not be made";
      ready = false;
    }
  }
  const std::size_t block_inputs = BLOCK_OUTPUTS * plan.decimation;
  std::vector<std::complex<float>> bank_out(plan.bins);
  for (std::uint64_t at = 0, n = 0;; at += block_inputs, ++n) {
    SplitBlock& block = pipe.blocks[n % 2];
    {
      std::unique_lock held(pipe.lock);
      pipe.changed.wait(held, [&] { return pipe.stop || !block.full; });
      if (pipe.stop) return;
    }
    if (ready &&
        read_recording_pairs(reader, static_cast<std::int64_t>(at), block_inputs, block.input.data(), &error) != 0) {
      ready = false;
    }
    if (ready) {
      if (at < plan.input_pair_count) *input_done += std::min<std::uint64_t>(block_inputs, plan.input_pair_count - at);
      if (bank) {
        for (std::size_t i = 0; i < BLOCK_OUTPUTS; ++i) {
          firpfbchr_crcf_push(bank.get(), block.input.data() + i * plan.decimation);
          firpfbchr_crcf_execute(bank.get(), bank_out.data());
          for (std::size_t c = 0; c < plan.channels.size(); ++c) {
            if (!plan.channels[c].pass_through) block.bins[c][i] = bank_out[plan.channels[c].bin];
          }
        }
      }
    }
    {
      const std::lock_guard held(pipe.lock);
      block.full = true;
      block.failed = !ready;
      if (!ready) pipe.error = error;
    }
    pipe.changed.notify_all();
    if (!ready) return;
  }
}

// Resamples, mixes and hands on one block for every channel still short of
// its capture. 0, or -1 with `*error` set.
int hand_on_block(const ChannelizerPlan& plan, std::vector<ChannelChain>& chains, SplitBlock& block,
                  const ChannelSink& sink, std::string* error) {
  for (std::size_t c = 0; c < plan.channels.size(); ++c) {
    ChannelChain& chain = chains[c];
    if (chain.emitted >= plan.output_pair_count) continue;
    int sent = 0;
    if (plan.channels[c].pass_through) {
      sent = emit_channel(plan, c, chain, block.input.data(), block.input.size(), sink, error);
    } else {
      std::complex<float>* pairs = block.bins[c].data();
      unsigned made = BLOCK_OUTPUTS;
      if (chain.resampler) {
        msresamp_crcf_execute(chain.resampler.get(), pairs, BLOCK_OUTPUTS, chain.resampled.data(), &made);
        pairs = chain.resampled.data();
      }
      nco_crcf_mix_block_down(chain.nco.get(), pairs, pairs, made);
      sent = emit_channel(plan, c, chain, pairs, made, sink, error);
    }
    if (sent != 0) return -1;
  }
  return 0;
}

}  // namespace

int run_channelizer(const ChannelizerPlan& plan, const RecordingInfo& recording, std::atomic<std::uint64_t>* input_done,
                    const ChannelSink& sink, std::string* error) {
  std::vector<ChannelChain> chains(plan.channels.size());
  for (std::size_t c = 0; c < plan.channels.size(); ++c) {
    if (!plan.channels[c].pass_through && make_chain(plan, plan.channels[c], &chains[c], error) != 0) return -1;
  }
  SplitPipeline pipe;
  for (SplitBlock& block : pipe.blocks) {
    block.input.resize(BLOCK_OUTPUTS * plan.decimation);
    block.bins.resize(plan.channels.size());
    for (std::size_t c = 0; c < plan.channels.size(); ++c) {
      if (!plan.channels[c].pass_through) block.bins[c].resize(BLOCK_OUTPUTS);
    }
  }
  const auto all_done = [&] {
    return std::all_of(chains.begin(), chains.end(),
                       [&](const ChannelChain& chain) { return chain.emitted >= plan.output_pair_count; });
  };
  std::thread splitter(split_blocks, std::cref(plan), std::cref(recording), input_done, std::ref(pipe));
  int result = 0;
  for (std::uint64_t n = 0; result == 0 && !all_done(); ++n) {
    SplitBlock& block = pipe.blocks[n % 2];
    {
      std::unique_lock held(pipe.lock);
      pipe.changed.wait(held, [&] { return block.full; });
      if (block.failed) {
        *error = pipe.error;
        result = -1;
        break;
      }
    }
    result = hand_on_block(plan, chains, block, sink, error);
    {
      const std::lock_guard held(pipe.lock);
      block.full = false;
    }
    pipe.changed.notify_all();
  }
  {
    const std::lock_guard held(pipe.lock);
    pipe.stop = true;
  }
  pipe.changed.notify_all();
  splitter.join();
  return result;
}

}  // namespace kdsp
