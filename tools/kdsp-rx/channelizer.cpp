#include "kdsp-rx/channelizer.h"

#include <liquid/liquid.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "kdsp-rx/core_run.h"
#include "kdsp-rx/liquid_owner.h"

namespace kdsp {

namespace {

constexpr std::size_t BLOCK_OUTPUTS = 8192;  // bank outputs per block
// The part of a recording at the core's rate whose noise is taken as flat.
constexpr double PASS_THROUGH_REFERENCE_HZ = 100000.0;
// The part of a bin that is flat, as a fraction of the bins' rate either side.
constexpr double BIN_FLAT_FRACTION = 0.35;
// Blocks in flight for each of the bank's threads.
constexpr std::size_t BLOCKS_PER_THREAD = 2;

// One channel's chain after the bank, and what it has handed on.
struct ChannelChain {
  ResamplerOwner resampler;
  std::vector<std::complex<float>> resampled;
  std::uint64_t to_drop = 0;  // leading outputs of the filters' delay
  std::uint64_t emitted = 0;
};

double bin_rate(const ChannelizerPlan& plan) { return plan.input_rate / plan.decimation; }

double resample_ratio(const ChannelizerPlan& plan) { return CORE_PAIR_RATE / bin_rate(plan); }

int make_chain(const ChannelizerPlan& plan, ChannelChain* chain, std::string* error) {
  const double ratio = resample_ratio(plan);
  double delay = 2.0 * CHANNELIZER_SEMI_LENGTH * ratio;
  if (ratio != 1.0) {
    chain->resampler.reset(msresamp_crcf_create(static_cast<float>(ratio), CHANNELIZER_STOPBAND_DB));
    if (!chain->resampler) {
      *error = "the channel filters could not be made";
      return -1;
    }
    delay += msresamp_crcf_get_delay(chain->resampler.get());
    chain->resampled.resize(static_cast<std::size_t>(std::ceil(2.0 * ratio * BLOCK_OUTPUTS)) + 64);
  }
  chain->to_drop = static_cast<std::uint64_t>(std::llround(delay));
  return 0;
}

// Hands on the part of `pairs` after the delay and before the capture's end.
int emit_channel(const ChannelizerPlan& plan, std::size_t index, ChannelChain& chain, const std::complex<float>* pairs,
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
  // Without decimation the bins' rate may reach twice the core's: four bins
  // keep every channel within a quarter of the core's rate of a centre.
  plan.bins = plan.decimation == 1 ? 4 : 2 * plan.decimation;
  plan.bank_history = 2 * CHANNELIZER_SEMI_LENGTH * plan.bins;
  plan.block_pairs = BLOCK_OUTPUTS * plan.decimation;
  plan.output_pair_count =
      static_cast<std::uint64_t>(std::floor(static_cast<long double>(input_pair_count) * CORE_PAIR_RATE / input_rate));
  const double spacing = input_rate / plan.bins;
  const double flat_hz = std::min(PASS_THROUGH_REFERENCE_HZ, BIN_FLAT_FRACTION * bin_rate(plan));
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
      // The channel keeps its offset from the bin's centre, which the bin
      // moves to 0 Hz; the bin's flat part holds the noise.
      channel.placed_offset_hz = static_cast<std::int32_t>(std::lround(offset - static_cast<double>(k) * spacing));
      channel.bands.channel_offset_hz = channel.placed_offset_hz;
      channel.bands.reference_low_hz = -flat_hz;
      channel.bands.reference_high_hz = flat_hz;
    }
    plan.channels.push_back(channel);
  }
  return plan;
}

namespace {

// One block of the recording: the input pairs after the bank's history
// (what pass-through channels take) and each channel's bin outputs.
struct SplitBlock {
  std::uint64_t number = 0;
  bool full = false;                                   // split and waiting to be handed on
  std::vector<std::complex<float>> input;              // history, then the block
  std::vector<std::vector<std::complex<float>>> bins;  // per channel; empty for pass-through
};

// Blocks in a ring between the bank's threads, which take the next block
// number in turn, and the thread that hands blocks on in order; block n
// lives in slot n % slots until it has been handed on.
struct SplitRing {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<SplitBlock> slots;
  std::uint64_t next_to_split = 0;
  std::uint64_t next_to_hand_on = 0;
  bool stop = false;
  bool failed = false;
  std::string error;
};

// The bins one bank thread makes; its own reader and its own bank.
struct BankThread {
  RecordingReader reader;
  BankOwner bank;
  std::vector<std::complex<float>> bank_out;
};

int open_bank_thread(const ChannelizerPlan& plan, const RecordingInfo& recording, BankThread* thread,
                     std::string* error) {
  if (open_recording_reader(recording, &thread->reader, error) != 0) return -1;
  if (!plan.needs_bank) return 0;
  thread->bank.reset(create_bank(plan.bins, plan.decimation, CHANNELIZER_SEMI_LENGTH, CHANNELIZER_STOPBAND_DB));
  if (!thread->bank) {
    *error = "the channel filter bank could not be made";
    return -1;
  }
  thread->bank_out.resize(plan.bins);
  return 0;
}

// Reads block `block.number` with the history before it and splits it.
int split_block(const ChannelizerPlan& plan, BankThread& thread, SplitBlock& block, std::string* error) {
  const auto first =
      static_cast<std::int64_t>(block.number * plan.block_pairs) - static_cast<std::int64_t>(plan.bank_history);
  if (read_recording_pairs(thread.reader, first, block.input.size(), block.input.data(), error) != 0) return -1;
  if (!thread.bank) return 0;
  // Block starts and the history's length are whole turns of the bins, so a
  // reset bank stands where a bank that ran from the start stood.
  firpfbchr_crcf_reset(thread.bank.get());
  const std::complex<float>* pairs = block.input.data();
  for (std::size_t i = 0; i < plan.bank_history / plan.decimation; ++i, pairs += plan.decimation) {
    firpfbchr_crcf_push(thread.bank.get(), const_cast<std::complex<float>*>(pairs));
  }
  for (std::size_t i = 0; i < BLOCK_OUTPUTS; ++i, pairs += plan.decimation) {
    firpfbchr_crcf_push(thread.bank.get(), const_cast<std::complex<float>*>(pairs));
    firpfbchr_crcf_execute(thread.bank.get(), thread.bank_out.data());
    for (std::size_t c = 0; c < plan.channels.size(); ++c) {
      if (!plan.channels[c].pass_through) block.bins[c][i] = thread.bank_out[plan.channels[c].bin];
    }
  }
  return 0;
}

void fail_ring(SplitRing& ring, const std::string& error) {
  {
    const std::lock_guard held(ring.lock);
    if (!ring.failed) ring.error = error;
    ring.failed = true;
  }
  ring.changed.notify_all();
}

void split_blocks(const ChannelizerPlan& plan, const RecordingInfo& recording, std::atomic<std::uint64_t>* input_done,
                  SplitRing& ring) {
  BankThread thread;
  std::string error;
  if (open_bank_thread(plan, recording, &thread, &error) != 0) {
    fail_ring(ring, error);
    return;
  }
  for (;;) {
    SplitBlock* block = nullptr;
    {
      std::unique_lock held(ring.lock);
      // A slot is free once the block that held it has been handed on.
      ring.changed.wait(held, [&] {
        return ring.stop || ring.failed || ring.next_to_split < ring.next_to_hand_on + ring.slots.size();
      });
      if (ring.stop || ring.failed) return;
      block = &ring.slots[ring.next_to_split % ring.slots.size()];
      block->number = ring.next_to_split++;
    }
    if (split_block(plan, thread, *block, &error) != 0) {
      fail_ring(ring, error);
      return;
    }
    const std::uint64_t at = block->number * plan.block_pairs;
    if (at < plan.input_pair_count)
      *input_done += std::min<std::uint64_t>(plan.block_pairs, plan.input_pair_count - at);
    {
      const std::lock_guard held(ring.lock);
      block->full = true;
    }
    ring.changed.notify_all();
  }
}

// Resamples and hands on one block for every channel still short of its
// capture. 0, or -1 with `*error` set.
int hand_on_block(const ChannelizerPlan& plan, std::vector<ChannelChain>& chains, SplitBlock& block,
                  const ChannelSink& sink, std::string* error) {
  for (std::size_t c = 0; c < plan.channels.size(); ++c) {
    ChannelChain& chain = chains[c];
    if (chain.emitted >= plan.output_pair_count) continue;
    int sent = 0;
    if (plan.channels[c].pass_through) {
      sent = emit_channel(plan, c, chain, block.input.data() + plan.bank_history, plan.block_pairs, sink, error);
    } else if (chain.resampler) {
      unsigned made = 0;
      msresamp_crcf_execute(chain.resampler.get(), block.bins[c].data(), BLOCK_OUTPUTS, chain.resampled.data(), &made);
      sent = emit_channel(plan, c, chain, chain.resampled.data(), made, sink, error);
    } else {
      sent = emit_channel(plan, c, chain, block.bins[c].data(), BLOCK_OUTPUTS, sink, error);
    }
    if (sent != 0) return -1;
  }
  return 0;
}

// Waits for the next block in order. Null when a bank thread failed.
SplitBlock* next_full_block(SplitRing& ring, std::string* error) {
  std::unique_lock held(ring.lock);
  SplitBlock& block = ring.slots[ring.next_to_hand_on % ring.slots.size()];
  ring.changed.wait(held, [&] { return ring.failed || (block.full && block.number == ring.next_to_hand_on); });
  if (ring.failed) {
    *error = ring.error;
    return nullptr;
  }
  return &block;
}

void release_block(SplitRing& ring, SplitBlock& block) {
  {
    const std::lock_guard held(ring.lock);
    block.full = false;
    ++ring.next_to_hand_on;
  }
  ring.changed.notify_all();
}

}  // namespace

int run_channelizer(const ChannelizerPlan& plan, const RecordingInfo& recording, unsigned bank_threads,
                    std::atomic<std::uint64_t>* input_done, const ChannelSink& sink, std::string* error) {
  std::vector<ChannelChain> chains(plan.channels.size());
  for (std::size_t c = 0; c < plan.channels.size(); ++c) {
    if (!plan.channels[c].pass_through && make_chain(plan, &chains[c], error) != 0) return -1;
  }
  bank_threads = std::max(1u, bank_threads);
  SplitRing ring;
  ring.slots.resize(BLOCKS_PER_THREAD * bank_threads);
  for (SplitBlock& block : ring.slots) {
    block.input.resize(plan.bank_history + plan.block_pairs);
    block.bins.resize(plan.channels.size());
    for (std::size_t c = 0; c < plan.channels.size(); ++c) {
      if (!plan.channels[c].pass_through) block.bins[c].resize(BLOCK_OUTPUTS);
    }
  }
  const auto all_done = [&] {
    return std::all_of(chains.begin(), chains.end(),
                       [&](const ChannelChain& chain) { return chain.emitted >= plan.output_pair_count; });
  };
  std::vector<std::thread> splitters;
  for (unsigned t = 0; t < bank_threads; ++t) {
    splitters.emplace_back(split_blocks, std::cref(plan), std::cref(recording), input_done, std::ref(ring));
  }
  int result = 0;
  while (result == 0 && !all_done()) {
    SplitBlock* block = next_full_block(ring, error);
    if (block == nullptr) {
      result = -1;
      break;
    }
    result = hand_on_block(plan, chains, *block, sink, error);
    release_block(ring, *block);
  }
  {
    const std::lock_guard held(ring.lock);
    ring.stop = true;
  }
  ring.changed.notify_all();
  for (std::thread& splitter : splitters) splitter.join();
  return result;
}

}  // namespace kdsp
