// kdsp-rx --all's split of a recording into channels: the same bits for any
// number of the bank's threads, and those of one bank run straight through
// the recording; every channel placed where the kernel reaches it at any rate.
#include "radio/chain/channelizer.h"  // first: liquid.h takes std::complex when it is known
#include "radio/chain/liquid_owner.h"

#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <random>

#include "base/numbers.h"
#include "radio/kernel/core_run.h"
#include "support/test_files.h"

namespace kdsp {

namespace {

using Pairs = std::vector<std::complex<float>>;

// Noise with a few carriers, written as cf32; returns its description.
RecordingInfo noisy_recording(const ScratchDir& dir, double rate, std::size_t pair_count) {
  std::mt19937 random(7);
  std::normal_distribution<float> noise(0.0f, 0.1f);
  std::vector<float> values;
  values.reserve(2 * pair_count);
  for (std::size_t n = 0; n < pair_count; ++n) {
    std::complex<double> sum(noise(random), noise(random));
    for (double hz : {-790000.0, 101000.0, 1.02e6}) sum += std::polar(0.5, TWO_PI * hz * static_cast<double>(n) / rate);
    values.push_back(static_cast<float>(sum.real()));
    values.push_back(static_cast<float>(sum.imag()));
  }
  write_file(dir.file("band.cf32"), capture_file(values));
  RecordingRequest request;
  request.path = dir.file("band.cf32");
  request.sample_rate = rate;
  RecordingInfo info;
  Failure error;
  EXPECT_EQ(describe_recording(request, &info, &error), 0) << error.cause;
  return info;
}

std::vector<Pairs> split_on(const ChannelizerPlan& plan, const RecordingInfo& recording, unsigned threads) {
  std::vector<Pairs> captures(plan.channels.size());
  std::atomic<std::uint64_t> done{0};
  Failure error;
  const int result = run_channelizer(
      plan, recording, threads, &done,
      [&](std::size_t channel, const std::complex<float>* pairs, std::size_t count, Failure*) {
        captures[channel].insert(captures[channel].end(), pairs, pairs + count);
        return 0;
      },
      &error);
  EXPECT_EQ(result, 0) << error.cause;
  EXPECT_EQ(done.load(), recording.pair_count);
  return captures;
}

// The straightforward split: one bank through the whole recording, each
// channel's bin after the bank's delay.
std::vector<Pairs> split_by_one_bank(const ChannelizerPlan& plan, const RecordingInfo& recording) {
  RecordingReader reader;
  Failure error;
  EXPECT_EQ(open_recording_reader(recording, &reader, &error), 0) << error.cause;
  const std::size_t delay = 2 * CHANNELIZER_SEMI_LENGTH;
  const std::size_t outputs = plan.output_pair_count + delay;
  Pairs input(outputs * plan.decimation);
  EXPECT_EQ(read_recording_pairs(reader, 0, input.size(), input.data(), &error), 0) << error.cause;
  firpfbchr_crcf bank =
      firpfbchr_crcf_create_kaiser(plan.bins, plan.decimation, CHANNELIZER_SEMI_LENGTH, CHANNELIZER_STOPBAND_DB);
  Pairs out(plan.bins);
  std::vector<Pairs> captures(plan.channels.size());
  for (std::size_t i = 0; i < outputs; ++i) {
    firpfbchr_crcf_push(bank, input.data() + i * plan.decimation);
    firpfbchr_crcf_execute(bank, out.data());
    if (i < delay) continue;
    for (std::size_t c = 0; c < plan.channels.size(); ++c) captures[c].push_back(out[plan.channels[c].bin]);
  }
  firpfbchr_crcf_destroy(bank);
  return captures;
}

bool same_bits(const Pairs& a, const Pairs& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0;
}

}  // namespace

TEST(ChannelizerSplit, AnyNumberOfThreadsGivesTheBitsOfOneBankRunThrough) {
  // Two and a half blocks and a few pairs at 2.4 MS/s: bins at the core's
  // rate, no resampler.
  ScratchDir dir;
  const RecordingInfo recording = noisy_recording(dir, 2.4e6, 2 * 81920 + 40960 + 37);
  const ChannelizerPlan plan = plan_channelizer(recording.sample_rate, recording.pair_count,
                                                {-800000.0, 100000.0, 1025000.0, -1187500.0}, 12500.0);
  ASSERT_TRUE(plan.needs_bank);
  const std::vector<Pairs> reference = split_by_one_bank(plan, recording);
  for (unsigned threads : {1u, 2u, 3u}) {
    const std::vector<Pairs> captures = split_on(plan, recording, threads);
    for (std::size_t c = 0; c < plan.channels.size(); ++c) {
      EXPECT_EQ(captures[c].size(), plan.output_pair_count);
      EXPECT_TRUE(same_bits(captures[c], reference[c])) << "channel " << c << ", " << threads << " threads";
    }
  }
}

TEST(ChannelizerSplit, ResampledBinsAreTheSameForAnyNumberOfThreads) {
  ScratchDir dir;
  const RecordingInfo recording = noisy_recording(dir, 2.048e6, 3 * 65536 + 11);
  const ChannelizerPlan plan =
      plan_channelizer(recording.sample_rate, recording.pair_count, {-790000.0, 101000.0, 0.0}, 12500.0);
  const std::vector<Pairs> one = split_on(plan, recording, 1);
  const std::vector<Pairs> three = split_on(plan, recording, 3);
  for (std::size_t c = 0; c < plan.channels.size(); ++c) {
    EXPECT_EQ(one[c].size(), plan.output_pair_count);
    EXPECT_TRUE(same_bits(one[c], three[c])) << "channel " << c;
  }
}

TEST(ChannelizerPlan, EveryChannelLiesWhereTheKernelAndTheNoiseReferenceReachIt) {
  for (double rate : {96e3, 192e3, 250e3, 384e3, 450e3, 480e3, 700e3, 1.024e6, 2.048e6, 2.4e6, 10e6}) {
    std::vector<double> offsets;
    const double reach = rate / 2.0 - 12500.0;
    for (double offset = -reach; offset <= reach; offset += reach / 37.0) offsets.push_back(std::round(offset));
    const ChannelizerPlan plan = plan_channelizer(rate, 1000000, offsets, 12500.0);
    for (const ChannelPlacement& channel : plan.channels) {
      SCOPED_TRACE("rate " + std::to_string(rate) + ", offset " + std::to_string(channel.offset_hz));
      EXPECT_LE(std::abs(channel.placed_offset_hz), CORE_MAX_OFFSET_HZ);
      EXPECT_EQ(channel.bands.channel_offset_hz, channel.placed_offset_hz);
      // The whole channel inside the part of the capture that is flat.
      EXPECT_GE(channel.placed_offset_hz - 12500.0, channel.bands.reference_low_hz);
      EXPECT_LE(channel.placed_offset_hz + 12500.0, channel.bands.reference_high_hz);
    }
  }
}

}  // namespace kdsp
