// kdsp-rx: one FM channel of a radio recording, any format, rate and
// length, to one voice WAV, through the same core as kdsp; or, with --all,
// every transmission of every channel to a WAV of its own. main builds the
// job from the options; the work is the radio library's.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include "common/progress_line.h"
#include "common/tool_main.h"
#include "kdsp-rx/rx_options.h"
#include "radio/kernel/core_run.h"
#include "radio/traffic/band_plan.h"
#include "radio/traffic/band_receiver.h"
#include "radio/traffic/channel_receive.h"

namespace kdsp {

namespace {

unsigned worker_count(std::int64_t asked) {
  return asked != 0 ? static_cast<unsigned>(asked) : std::max(1u, std::thread::hardware_concurrency());
}

bool show_progress(const RxOptions& options) { return !options.quiet && isatty(STDERR_FILENO) != 0; }

ChannelReceiveRequest channel_request(const RxOptions& options) {
  ChannelReceiveRequest request;
  request.recording = options.recording;
  request.offset_hz = options.offset_hz;
  request.frequency_hz = options.frequency_hz;
  request.channel_width_hz = options.channel_width_hz;
  request.kernel_path = options.kernel_path;
  request.definitions = options.definitions;
  request.squelch_db = options.squelch_db;
  request.after = options.after;
  request.pieces_dir = options.pieces_dir;
  request.force = options.force;
  request.output_path = options.output_path;
  request.threads = worker_count(options.threads);
  return request;
}

BandRequest band_request(const RxOptions& options) {
  BandRequest request;
  request.recording = options.recording;
  request.channel_values = options.channel_values;
  request.raster_hz = options.raster_hz;
  request.channel_width_hz = options.channel_width_hz;
  request.kernel_path = options.kernel_path;
  request.definitions = options.definitions;
  request.squelch_db = options.squelch_db.value_or(DEFAULT_ALL_SQUELCH_DB);
  request.after = options.after;
  request.output_dir = options.output_dir;
  request.pieces_dir = options.pieces_dir;
  request.force = options.force;
  request.csv = options.csv;
  request.plan_path = options.plan_path;
  request.tones = options.tones;
  request.name_template = options.name_template;
  request.min_duration_s = options.min_duration_s;
  request.max_duration_s = options.max_duration_s;
  request.threads = worker_count(options.threads);
  return request;
}

void say(const RxOptions& options, const std::string& line) {
  if (!options.quiet) std::fprintf(stderr, "kdsp-rx: %s\n", line.c_str());
}

int run_one(const RxOptions& options, Failure* failure) {
  const ChannelReceiveRequest request = channel_request(options);
  ChannelReceivePlan plan;
  if (choose_channel(request, &plan, failure) != 0) return -1;
  if (plan.found) say(options, found_channel_text(plan));
  if (complete_channel_plan(request, &plan, failure) != 0) return -1;
  ReceiveProgress progress;
  {
    const ProgressLine line(show_progress(options), plan.job.front_end.output_pair_count, CORE_PAIR_RATE,
                            &progress.pairs_done);
    if (receive_channel_to(plan, options.output_path, &progress, failure) != 0) return -1;
  }
  for (const DropoutSpan& span : progress.dropouts) say(options, dropout_text(span, plan.job.recording.sample_rate));
  return 0;
}

int run_all(const RxOptions& options, Failure* failure) {
  BandPlan plan;
  if (plan_band(band_request(options), &plan, failure) != 0) return -1;
  say(options, band_channels_text(plan));
  BandProgress progress;
  BandResult result;
  {
    const ProgressLine line(show_progress(options), plan.recording.pair_count, plan.recording.sample_rate,
                            &progress.input_done, &progress.written, "transmissions");
    if (receive_band(plan, &progress, &result, failure) != 0) return -1;
  }
  for (const DropoutSpan& span : result.dropouts) say(options, dropout_text(span, plan.recording.sample_rate));
  const std::size_t written = result.written;
  say(options,
      std::to_string(written) + " transmission" + (written == 1 ? "" : "s") + " written to " + options.output_dir);
  return 0;
}

int run(const RxOptions& options, Failure* failure) {
  return options.all ? run_all(options, failure) : run_one(options, failure);
}

constexpr ToolDefinition<RxOptions> RX_TOOL{RX_HELP, add_rx_options, complete_rx_options, run};

}  // namespace

}  // namespace kdsp

int main(int argc, char** argv) { return kdsp::run_tool(kdsp::RX_TOOL, argc, argv); }
