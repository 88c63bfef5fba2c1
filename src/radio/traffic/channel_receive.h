// What kdsp-rx does with one channel, decided before any work: the
// recording, the channel (given, or the strongest found), the front end
// that places it, the pieces the core runs, the kernel, the squelch; and the
// run itself, to a WAV file or standard output.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "radio/base/failure.h"
#include "radio/chain/after_demod.h"
#include "radio/traffic/receive.h"

namespace kdsp {

// What the user asked for.
struct ChannelReceiveRequest {
  RecordingRequest recording;
  std::optional<double> offset_hz;     // from the recording's centre
  std::optional<double> frequency_hz;  // absolute; needs the centre
  double channel_width_hz = 0.0;       // 0: the voice chain's own filter
  std::string kernel_path;             // empty: the built-in kernel
  std::vector<std::string> definitions;
  std::optional<double> squelch_db;
  AfterDemod after;
  std::string pieces_dir;
  bool force = false;       // pieces may replace files in pieces_dir
  std::string output_path;  // "-": standard output
  unsigned threads = 1;
};

// The strongest channel found, when none was given.
struct FoundChannelChoice {
  double offset_hz = 0.0;
  double cnr_db = 0.0;
};

struct ChannelReceivePlan {
  ReceiveJob job;
  AfterDemod after;
  double offset_hz = 0.0;
  std::optional<FoundChannelChoice> found;
};

// Describes the recording and chooses the channel: the first half of the
// plan, after which a found channel can be announced. 0, or -1 with
// `*failure` naming the cause and the fix.
int choose_channel(const ChannelReceiveRequest& request, ChannelReceivePlan* plan, Failure* failure);

// Checks the chosen channel and plans the front end, the pieces, the kernel
// and the squelch. 0, or -1 with `*failure` set.
int complete_channel_plan(const ChannelReceiveRequest& request, ChannelReceivePlan* plan, Failure* failure);

// "channel at 145512500 Hz (offset 12500 Hz), 24.0 dB over the noise, the
// strongest found; give --offset or --freq for another": what a user is
// told when the channel was found rather than given.
std::string found_channel_text(const ChannelReceivePlan& plan);

// Runs the plan into `output_path` ("-": standard output): the audio goes
// out as it is joined, unless the squelch or a step after demodulation needs
// all of it first; the file appears whole or not at all. 0, or -1 with
// `*failure` set (an OUTPUT failure when the WAV could not be written).
int receive_channel_to(const ChannelReceivePlan& plan, const std::string& output_path, ReceiveProgress* progress,
                       Failure* failure);

}  // namespace kdsp
