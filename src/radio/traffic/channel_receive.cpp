#include "radio/traffic/channel_receive.h"

#include <cmath>
#include <cstdio>

#include "radio/base/quantity_text.h"
#include "radio/io/channel_width.h"
#include "radio/io/regular_file.h"
#include "radio/kernel/kernel_source.h"
#include "radio/spectrum/channel_search.h"
#include "radio/traffic/output_folder.h"

namespace kdsp {

namespace {

// The channel's offset from the recording's centre: from the request, else
// the strongest channel found.
int choose_offset(const ChannelReceiveRequest& request, const RecordingInfo& recording, ChannelReceivePlan* plan,
                  Failure* failure) {
  if (request.offset_hz) {
    plan->offset_hz = *request.offset_hz;
    return 0;
  }
  if (request.frequency_hz) {
    if (!recording.centre_hz) {
      *failure = Failure{"--freq needs the centre frequency of '" + recording.path + "', which its file does not give",
                         "add --center HZ, or give --offset instead", recording.path};
      return -1;
    }
    plan->offset_hz = *request.frequency_hz - *recording.centre_hz;
    return 0;
  }
  FoundChoice found;
  if (find_strongest_channel(recording, channel_reach_hz(recording.sample_rate), &found, failure) != 0) return -1;
  // The finder's centre to the hertz: the core takes whole hertz anyway.
  plan->offset_hz = std::round(found.offset_hz);
  plan->found = FoundChannelChoice{plan->offset_hz, found.cnr_db};
  return 0;
}

int check_in_band(const RecordingInfo& recording, double offset_hz, Failure* failure) {
  const double reach = channel_reach_hz(recording.sample_rate);
  if (std::fabs(offset_hz) <= reach) return 0;
  std::string where = "offset " + hz_text(offset_hz);
  std::string band = "offsets from " + hz_text(-reach) + " to " + hz_text(reach);
  if (recording.centre_hz) {
    where = hz_text(*recording.centre_hz + offset_hz) + " (offset " + hz_text(offset_hz) + ")";
    band = "frequencies from " + hz_text(*recording.centre_hz - reach) + " to " + hz_text(*recording.centre_hz + reach);
  }
  *failure = Failure{"the channel at " + where + " is outside the band of '" + recording.path + "' (" +
                         recording.description + ": " + (reach > 0.0 ? band : std::string("no room for a channel")) +
                         ", a channel needing 12.5 kHz on either side)",
                     "choose a channel inside it", recording.path};
  return -1;
}

}  // namespace

int choose_channel(const ChannelReceiveRequest& request, ChannelReceivePlan* plan, Failure* failure) {
  ChannelReceivePlan made;
  if (describe_recording(request.recording, &made.job.recording, failure) != 0) return -1;
  if (choose_offset(request, made.job.recording, &made, failure) != 0) return -1;
  *plan = std::move(made);
  return 0;
}

int complete_channel_plan(const ChannelReceiveRequest& request, ChannelReceivePlan* plan, Failure* failure) {
  ChannelReceivePlan made = *plan;
  ReceiveJob& job = made.job;
  const RecordingInfo& recording = job.recording;
  if (check_in_band(recording, made.offset_hz, failure) != 0) return -1;
  if (request.output_path != "-" &&
      (same_file(request.output_path, recording.path) || same_file(request.output_path, recording.data_path))) {
    *failure = Failure{"-o '" + request.output_path + "' is the recording itself", "give another output file",
                       request.output_path};
    return -1;
  }
  if (!request.pieces_dir.empty() && check_pieces_folder(request.pieces_dir, request.force, failure) != 0) return -1;
  if (plan_front_end(recording.sample_rate, recording.pair_count, made.offset_hz, request.channel_width_hz,
                     &job.front_end, failure) != 0) {
    return -1;
  }
  if (job.front_end.output_pair_count < CORE_MIN_PAIRS) {
    *failure = Failure{"'" + recording.path + "' is too short: " + std::to_string(recording.pair_count) +
                           " pairs, less than one audio sample",
                       "", recording.path};
    return -1;
  }
  job.pieces =
      plan_pieces(job.front_end.output_pair_count, job.front_end.output_grid, CORE_MAX_PAIRS, CORE_PAIRS_PER_SAMPLE);
  if (load_kernel(request.kernel_path, request.definitions, job.front_end.placed_offset_hz, &job.kernel_image,
                  failure) != 0) {
    return -1;
  }
  job.pieces_dir = request.pieces_dir;
  if (request.squelch_db) job.squelch = plan_squelch(job.front_end, *request.squelch_db);
  job.threads = request.threads;
  made.after = request.after;
  *plan = std::move(made);
  return 0;
}

std::string found_channel_text(const ChannelReceivePlan& plan) {
  const RecordingInfo& recording = plan.job.recording;
  std::string where = "offset " + hz_text(plan.offset_hz);
  if (recording.centre_hz) where = hz_text(*recording.centre_hz + plan.offset_hz) + " (" + where + ")";
  char level[32];
  std::snprintf(level, sizeof level, "%.1f", plan.found ? plan.found->cnr_db : 0.0);
  return "channel at " + where + ", " + level +
         " dB over the noise, the strongest found; give --offset or --freq for another";
}

int receive_channel_to(const ChannelReceivePlan& plan, const std::string& output_path, ReceiveProgress* progress,
                       Failure* failure) {
  const char* output = output_path == "-" ? nullptr : output_path.c_str();
  const Failure write_failure =
      output == nullptr ? Failure{"the WAV could not be written to standard output", "", "", FailureKind::OUTPUT}
                        : Failure{"'" + output_path + "' could not be written (nothing was changed)", "", output_path,
                                  FailureKind::OUTPUT};
  const bool whole_first = wants_after_demod(plan.after) || plan.job.squelch.has_value();
  StreamedOutput stream;
  if (!whole_first && open_streamed_output(output, &stream) != 0) {
    *failure = write_failure;
    return -1;
  }
  std::vector<std::uint8_t> wav;
  if (receive_channel(plan.job, progress, stream.get(), &wav, failure) != 0) {
    if (failure->kind == FailureKind::OUTPUT) {
      *failure = write_failure;
    } else {
      prefix_failure(failure, "'" + plan.job.recording.path + "': ");
    }
    return -1;
  }
  if (!whole_first) {
    if (commit_streamed_output(&stream) == 0) return 0;
    *failure = write_failure;
    return -1;
  }
  if (apply_after_demod(plan.after, CORE_AUDIO_RATE, std::span<std::uint8_t>(wav).subspan(CORE_WAV_HEADER_BYTES),
                        failure) != 0) {
    return -1;
  }
  if (write_output_file(output, wav) == 0) return 0;
  *failure = write_failure;
  return -1;
}

}  // namespace kdsp
