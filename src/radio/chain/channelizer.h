// Every channel of a recording at once, for kdsp-rx --all: the recording is
// read and converted once, a polyphase filter bank (liquid-dsp
// firpfbchr_crcf, bins at least twice as many as the decimation, so that a
// channel never lies more than a quarter of a bin's rate from a bin's
// centre) splits the band, and each channel's bin is resampled to the core's
// rate when the bins' rate is not already that (msresamp_crcf): the channel
// placed in its own capture at its offset from the bin's centre, where the
// kernel's FMDEMOD finds it. A recording already at the core's rate passes
// through untouched with each channel at its own offset, as kdsp-rx passes it
// for one channel.
//
// The recording is split in blocks, each by whichever of the bank's threads
// takes it, and handed on in order. A bank's output depends only on the last
// 2 * CHANNELIZER_SEMI_LENGTH * bins pairs it was given (its history) and on
// where they stand in a turn of its bins, so a bank reset and primed with
// the history before its block gives the same bits as one that ran from the
// start: every channel's capture is the same for any number of threads.
#pragma once

#include <atomic>
#include <complex>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "radio/base/failure.h"
#include "radio/chain/squelch_gate.h"
#include "radio/io/recording.h"
#include "radio/spectrum/dropouts.h"

namespace kdsp {

// The bank's prototype filter: 2 * bins * this many taps; flat to about
// 0.39 of the bins' rate either side of a bin's centre, and 60 dB down where
// anything would fold back onto a channel.
inline constexpr unsigned CHANNELIZER_SEMI_LENGTH = 4;
inline constexpr float CHANNELIZER_STOPBAND_DB = 60.0f;

struct ChannelPlacement {
  double offset_hz = 0.0;  // from the recording's centre
  bool pass_through = false;
  std::int32_t placed_offset_hz = 0;  // where the kernel finds the channel
  unsigned bin = 0;
  CnrBands bands;  // where the squelch reads the channel and the noise
};

struct ChannelizerPlan {
  double input_rate = 0.0;
  std::uint64_t input_pair_count = 0;
  unsigned decimation = 1;
  unsigned bins = 4;
  std::size_t bank_history = 0;  // pairs a bank is primed with
  std::size_t block_pairs = 0;   // recording pairs a block holds
  bool needs_bank = false;
  std::uint64_t output_pair_count = 0;  // each channel's capture, at the core's rate
  std::vector<ChannelPlacement> channels;
};

// Plans the split of a recording into channels at `offsets_hz`, each inside
// the band; `channel_half_width_hz` is the band the squelch reads.
ChannelizerPlan plan_channelizer(double input_rate, std::uint64_t input_pair_count,
                                 const std::vector<double>& offsets_hz, double channel_half_width_hz);

// Receives the next `count` pairs of channel `channel`'s capture. 0, or -1
// with `*error` set to stop the run.
using ChannelSink =
    std::function<int(std::size_t channel, const std::complex<float>* pairs, std::size_t count, Failure* failure)>;

struct ChannelizerState;
struct ChannelizerStateRelease {
  void operator()(ChannelizerState* state) const;
};

// The split as work for a pool of workers: blocks of the recording are read
// and split by any worker (several at once, each with its own reader and
// bank), then handed on in order, one block at a time, to the sink. The
// run's owner asks, with its own lock held, what may happen next; the work
// itself runs without that lock.
class Channelizer {
 public:
  // Plans the blocks of `plan` over `recording` for up to `workers` workers.
  // 0, or -1 with `*error` set.
  int open(const ChannelizerPlan& plan, const RecordingInfo& recording, unsigned workers, Failure* failure);

  // With the owner's lock held. A block may be split when a slot is free.
  bool can_split() const;
  // Reserves the next block to split; the number to pass to split().
  std::uint64_t take_block_to_split();
  // The next block in order is split and no other is being handed on.
  bool can_hand_on() const;
  // Reserves the handing on of the next block.
  void take_hand_on();
  // The reserved work is done.
  void block_split(std::uint64_t block);
  void block_handed_on();
  // Every channel's capture has been handed on whole.
  bool finished() const;

  // Without the lock: reads and splits block `block` on worker `worker`.
  int split(std::uint64_t block, unsigned worker, Failure* failure);
  // Without the lock: adds the next block's dropouts (recording pairs) to
  // `*dropouts`, then hands the block on to `sink`.
  int hand_on(const ChannelSink& sink, DropoutTimeline* dropouts, Failure* failure);

  // Pairs of the recording read so far, for a progress display.
  std::uint64_t input_done() const;

 private:
  std::unique_ptr<ChannelizerState, ChannelizerStateRelease> state_;
};

// The split alone on a pool of `workers`: every channel's capture handed to
// `sink` in order; `*input_done` counts the recording's pairs read. 0, or -1
// with `*error` set.
int run_channelizer(const ChannelizerPlan& plan, const RecordingInfo& recording, unsigned workers,
                    std::atomic<std::uint64_t>* input_done, const ChannelSink& sink, Failure* failure);

}  // namespace kdsp
