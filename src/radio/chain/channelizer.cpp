#include "radio/chain/channelizer.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "radio/base/work_pool.h"
#include "radio/chain/liquid_owner.h"
#include "radio/kernel/core_run.h"

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

int make_chain(const ChannelizerPlan& plan, ChannelChain* chain, Failure* failure) {
  const double ratio = resample_ratio(plan);
  double delay = 2.0 * CHANNELIZER_SEMI_LENGTH * ratio;
  if (ratio != 1.0) {
    chain->resampler.reset(msresamp_crcf_create(static_cast<float>(ratio), CHANNELIZER_STOPBAND_DB));
    if (!chain->resampler) {
      *failure = Failure{"the channel filters could not be made"};
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
                 std::size_t count, const ChannelSink& sink, Failure* failure) {
  const std::size_t skip = static_cast<std::size_t>(std::min<std::uint64_t>(chain.to_drop, count));
  chain.to_drop -= skip;
  const auto room = static_cast<std::size_t>(plan.output_pair_count - chain.emitted);
  const std::size_t keep = std::min(count - skip, room);
  if (keep == 0) return 0;
  chain.emitted += keep;
  return sink(index, pairs + skip, keep, failure);
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
  DropoutTimeline dropouts;                            // the block's own stretches of one repeated pair
};

// The bins one worker makes; its own reader and its own bank.
struct BankThread {
  RecordingReader reader;
  BankOwner bank;
  std::vector<std::complex<float>> bank_out;
};

int open_bank_thread(const ChannelizerPlan& plan, const RecordingInfo& recording, BankThread* thread,
                     Failure* failure) {
  if (open_recording_reader(recording, &thread->reader, failure) != 0) return -1;
  if (!plan.needs_bank) return 0;
  thread->bank.reset(create_bank(plan.bins, plan.decimation, CHANNELIZER_SEMI_LENGTH, CHANNELIZER_STOPBAND_DB));
  if (!thread->bank) {
    *failure = Failure{"the channel filter bank could not be made"};
    return -1;
  }
  thread->bank_out.resize(plan.bins);
  return 0;
}

// Reads block `block.number` with the history before it and splits it.
int split_block(const ChannelizerPlan& plan, BankThread& thread, SplitBlock& block, Failure* failure) {
  const auto first =
      static_cast<std::int64_t>(block.number * plan.block_pairs) - static_cast<std::int64_t>(plan.bank_history);
  if (read_recording_pairs(thread.reader, first, block.input.size(), block.input.data(), failure) != 0) return -1;
  // Past the recording's end the block reads as zeros: no dropout there.
  block.dropouts = DropoutTimeline{};
  const std::uint64_t at = block.number * plan.block_pairs;
  if (at < plan.input_pair_count) {
    const auto own = static_cast<std::size_t>(std::min<std::uint64_t>(plan.block_pairs, plan.input_pair_count - at));
    block.dropouts.add(at, std::span<const std::complex<float>>(block.input).subspan(plan.bank_history, own));
  }
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

// Resamples and hands on one block for every channel still short of its
// capture. 0, or -1 with `*error` set.
int hand_on_block(const ChannelizerPlan& plan, std::vector<ChannelChain>& chains, SplitBlock& block,
                  const ChannelSink& sink, Failure* failure) {
  for (std::size_t c = 0; c < plan.channels.size(); ++c) {
    ChannelChain& chain = chains[c];
    if (chain.emitted >= plan.output_pair_count) continue;
    int sent = 0;
    if (plan.channels[c].pass_through) {
      sent = emit_channel(plan, c, chain, block.input.data() + plan.bank_history, plan.block_pairs, sink, failure);
    } else if (chain.resampler) {
      unsigned made = 0;
      msresamp_crcf_execute(chain.resampler.get(), block.bins[c].data(), BLOCK_OUTPUTS, chain.resampled.data(), &made);
      sent = emit_channel(plan, c, chain, chain.resampled.data(), made, sink, failure);
    } else {
      sent = emit_channel(plan, c, chain, block.bins[c].data(), BLOCK_OUTPUTS, sink, failure);
    }
    if (sent != 0) return -1;
  }
  return 0;
}

}  // namespace

// Blocks in a ring: block n lives in slot n % slots from the moment a worker
// takes it to split until it has been handed on.
struct ChannelizerState {
  ChannelizerPlan plan;
  const RecordingInfo* recording = nullptr;
  std::vector<ChannelChain> chains;
  std::vector<SplitBlock> slots;
  std::vector<std::unique_ptr<BankThread>> workers;  // by worker, made on its first block
  std::uint64_t next_to_split = 0;
  std::uint64_t next_to_hand_on = 0;
  bool handing_on = false;
  bool all_emitted = false;
  std::atomic<std::uint64_t> input_done{0};
};

void ChannelizerStateRelease::operator()(ChannelizerState* state) const { delete state; }

int Channelizer::open(const ChannelizerPlan& plan, const RecordingInfo& recording, unsigned workers, Failure* failure) {
  std::unique_ptr<ChannelizerState, ChannelizerStateRelease> state(new ChannelizerState);
  state->plan = plan;
  state->recording = &recording;
  state->chains.resize(plan.channels.size());
  for (std::size_t c = 0; c < plan.channels.size(); ++c) {
    if (!plan.channels[c].pass_through && make_chain(plan, &state->chains[c], failure) != 0) return -1;
  }
  workers = std::max(1u, workers);
  state->workers.resize(workers);
  state->slots.resize(BLOCKS_PER_THREAD * workers);
  for (SplitBlock& block : state->slots) {
    block.input.resize(plan.bank_history + plan.block_pairs);
    block.bins.resize(plan.channels.size());
    for (std::size_t c = 0; c < plan.channels.size(); ++c) {
      if (!plan.channels[c].pass_through) block.bins[c].resize(BLOCK_OUTPUTS);
    }
  }
  state->all_emitted = plan.channels.empty();
  state_ = std::move(state);
  return 0;
}

bool Channelizer::can_split() const {
  const ChannelizerState& s = *state_;
  // Blocks past the recording's end read as zeros: the filters' delays run
  // out on them until every capture is whole.
  return !s.all_emitted && s.next_to_split < s.next_to_hand_on + s.slots.size();
}

std::uint64_t Channelizer::take_block_to_split() {
  ChannelizerState& s = *state_;
  SplitBlock& block = s.slots[s.next_to_split % s.slots.size()];
  block.number = s.next_to_split;
  block.full = false;
  return s.next_to_split++;
}

bool Channelizer::can_hand_on() const {
  const ChannelizerState& s = *state_;
  const SplitBlock& block = s.slots[s.next_to_hand_on % s.slots.size()];
  return !s.all_emitted && !s.handing_on && block.full && block.number == s.next_to_hand_on;
}

void Channelizer::take_hand_on() { state_->handing_on = true; }

void Channelizer::block_split(std::uint64_t block) { state_->slots[block % state_->slots.size()].full = true; }

void Channelizer::block_handed_on() {
  ChannelizerState& s = *state_;
  s.slots[s.next_to_hand_on % s.slots.size()].full = false;
  ++s.next_to_hand_on;
  s.handing_on = false;
  s.all_emitted = std::all_of(s.chains.begin(), s.chains.end(),
                              [&](const ChannelChain& chain) { return chain.emitted >= s.plan.output_pair_count; });
}

bool Channelizer::finished() const { return state_->all_emitted; }

int Channelizer::split(std::uint64_t block_number, unsigned worker, Failure* failure) {
  ChannelizerState& s = *state_;
  std::unique_ptr<BankThread>& thread = s.workers[worker];
  if (!thread) {
    auto opened = std::make_unique<BankThread>();
    if (open_bank_thread(s.plan, *s.recording, opened.get(), failure) != 0) return -1;
    thread = std::move(opened);
  }
  SplitBlock& block = s.slots[block_number % s.slots.size()];
  if (split_block(s.plan, *thread, block, failure) != 0) return -1;
  const std::uint64_t at = block_number * s.plan.block_pairs;
  if (at < s.plan.input_pair_count) {
    s.input_done += std::min<std::uint64_t>(s.plan.block_pairs, s.plan.input_pair_count - at);
  }
  return 0;
}

int Channelizer::hand_on(const ChannelSink& sink, DropoutTimeline* dropouts, Failure* failure) {
  ChannelizerState& s = *state_;
  SplitBlock& block = s.slots[s.next_to_hand_on % s.slots.size()];
  for (const DropoutSpan& span : block.dropouts.spans()) dropouts->add_span(span.first_pair, span.end_pair);
  return hand_on_block(s.plan, s.chains, block, sink, failure);
}

std::uint64_t Channelizer::input_done() const { return state_->input_done; }

int run_channelizer(const ChannelizerPlan& plan, const RecordingInfo& recording, unsigned workers,
                    std::atomic<std::uint64_t>* input_done, const ChannelSink& sink, Failure* failure) {
  Channelizer split;
  if (split.open(plan, recording, workers, failure) != 0) return -1;
  DropoutTimeline dropouts;
  WorkPool pool;
  const TaskPicker pick = [&](unsigned running, PoolTask* task) {
    if (split.can_hand_on()) {
      split.take_hand_on();
      *task = [&](unsigned, Failure* task_failure) {
        if (split.hand_on(sink, &dropouts, task_failure) != 0) return -1;
        pool.update([&] { split.block_handed_on(); });
        return 0;
      };
      return NextTask::RUN;
    }
    if (split.can_split()) {
      const std::uint64_t block = split.take_block_to_split();
      *task = [&, block](unsigned worker, Failure* task_failure) {
        if (split.split(block, worker, task_failure) != 0) return -1;
        pool.update([&] { split.block_split(block); });
        return 0;
      };
      return NextTask::RUN;
    }
    return split.finished() && running == 0 ? NextTask::DONE : NextTask::WAIT;
  };
  const int result = pool.run(std::max(1u, workers), pick, failure);
  *input_done = split.input_done();
  return result;
}

}  // namespace kdsp
