// kdsp-rx: one FM channel of a radio recording, any format, rate and
// length, to one voice WAV, through the same core as kdsp.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>
#include <thread>

#include "common/progress_line.h"
#include "kdsp-rx/rx_options.h"
#include "radio/io/channel_width.h"
#include "radio/kernel/core_run.h"
#include "radio/kernel/kernel_source.h"
#include "radio/spectrum/channel_search.h"
#include "radio/traffic/band_plan.h"
#include "radio/traffic/band_receiver.h"
#include "radio/traffic/receive.h"

namespace kdsp {

namespace {

// A channel needs this much of the recording's band on either side of its
// centre: half the widest channel the voice chain passes.

int fail(const std::string& message) {
  std::fprintf(stderr, "kdsp-rx: %s\n", message.c_str());
  return EXIT_TOOL_FAILED;
}

std::string hz_text(double hz) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f Hz", hz);
  return text;
}

unsigned worker_count(std::int64_t asked) {
  return asked != 0 ? static_cast<unsigned>(asked) : std::max(1u, std::thread::hardware_concurrency());
}

// How far from the centre a channel may lie and still have its width inside
// the recording's band.

// The channel's offset from the recording's centre: from --offset or --freq,
// else the strongest channel found, announced in one line.
int choose_offset(const RxOptions& options, const RecordingInfo& recording, double* offset_hz, std::string* error) {
  if (options.offset_hz) {
    *offset_hz = *options.offset_hz;
    return 0;
  }
  if (options.frequency_hz) {
    if (!recording.centre_hz) {
      *error = "--freq needs the centre frequency of '" + recording.path +
               "', which its file does not give; add --center HZ, or give --offset instead";
      return -1;
    }
    *offset_hz = *options.frequency_hz - *recording.centre_hz;
    return 0;
  }
  FoundChoice found;
  if (find_strongest_channel(recording, channel_reach_hz(recording.sample_rate), &found, error) != 0) return -1;
  // The finder's centre to the hertz: the core takes whole hertz anyway.
  *offset_hz = std::round(found.offset_hz);
  std::string where = "offset " + hz_text(*offset_hz);
  if (recording.centre_hz) where = hz_text(*recording.centre_hz + *offset_hz) + " (" + where + ")";
  if (!options.quiet) {
    std::fprintf(stderr,
                 "kdsp-rx: channel at %s, %.1f dB over the noise, the strongest found; give --offset or "
                 "--freq for another\n",
                 where.c_str(), found.cnr_db);
  }
  return 0;
}

int check_in_band(const RecordingInfo& recording, double offset_hz, std::string* error) {
  const double reach = channel_reach_hz(recording.sample_rate);
  if (std::fabs(offset_hz) <= reach) return 0;
  std::string where = "offset " + hz_text(offset_hz);
  std::string band = "offsets from " + hz_text(-reach) + " to " + hz_text(reach);
  if (recording.centre_hz) {
    where = hz_text(*recording.centre_hz + offset_hz) + " (offset " + hz_text(offset_hz) + ")";
    band = "frequencies from " + hz_text(*recording.centre_hz - reach) + " to " + hz_text(*recording.centre_hz + reach);
  }
  *error = "the channel at " + where + " is outside the band of '" + recording.path + "' (" + recording.description +
           ": " + (reach > 0.0 ? band : std::string("no room for a channel")) +
           ", a channel needing 12.5 kHz on either side); choose a channel inside it";
  return -1;
}

int run(const RxOptions& options) {
  std::string error;
  RecordingInfo recording;
  if (describe_recording(options.recording, &recording, &error) != 0) return fail(error);
  double offset_hz = 0.0;
  if (choose_offset(options, recording, &offset_hz, &error) != 0) return fail(error);
  if (check_in_band(recording, offset_hz, &error) != 0) return fail(error);

  ReceiveJob job;
  job.recording = &recording;
  job.front_end = plan_front_end(recording.sample_rate, recording.pair_count, offset_hz, options.channel_width_hz);
  if (job.front_end.output_pair_count < CORE_MIN_PAIRS) {
    return fail("'" + recording.path + "' is too short: " + std::to_string(recording.pair_count) +
                " pairs, less than one audio sample");
  }
  job.pieces =
      plan_pieces(job.front_end.output_pair_count, job.front_end.output_grid, CORE_MAX_PAIRS, CORE_PAIRS_PER_SAMPLE);
  if (load_kernel(options.kernel_path, options.definitions, job.front_end.placed_offset_hz, &job.kernel_image,
                  &error) != 0) {
    return fail(error);
  }
  job.pieces_dir = options.pieces_dir;
  if (options.squelch_db) job.squelch = plan_squelch(job.front_end, *options.squelch_db);
  job.threads = worker_count(options.threads);

  // The audio goes out as it is joined, unless the squelch or a step after
  // demodulation needs all of it first.
  const char* output = options.output_path == "-" ? nullptr : options.output_path.c_str();
  const std::string write_failure = output == nullptr
                                        ? std::string("the WAV could not be written to standard output")
                                        : "'" + options.output_path + "' could not be written (nothing was changed)";
  const bool whole_first = wants_after_demod(options.after) || job.squelch.has_value();
  StreamedOutput stream;
  if (!whole_first && open_streamed_output(output, &stream) != 0) return fail(write_failure);
  ReceiveProgress progress;
  std::vector<std::uint8_t> wav;
  int received = 0;
  {
    ProgressLine line(!options.quiet && isatty(STDERR_FILENO) != 0, job.front_end.output_pair_count, CORE_PAIR_RATE,
                      &progress.pairs_done);
    received = receive_channel(job, &progress, stream.get(), &wav, &error);
  }
  if (received == RECEIVE_OUTPUT_FAILED) return fail(write_failure);
  if (received != 0) return fail("'" + recording.path + "': " + error);
  if (!whole_first) return commit_streamed_output(&stream) == 0 ? 0 : fail(write_failure);
  apply_after_demod(options.after, CORE_AUDIO_RATE, std::span<std::uint8_t>(wav).subspan(CORE_WAV_HEADER_BYTES));
  if (write_output_file(output, wav) != 0) return fail(write_failure);
  return 0;
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
  request.threads = worker_count(options.threads);
  return request;
}

int run_all(const RxOptions& options) {
  std::string error;
  BandPlan plan;
  if (plan_band(band_request(options), &plan, &error) != 0) return fail(error);
  if (!options.quiet) std::fprintf(stderr, "kdsp-rx: %s\n", band_channels_text(plan).c_str());
  BandProgress progress;
  std::size_t written = 0;
  int received = 0;
  {
    ProgressLine line(!options.quiet && isatty(STDERR_FILENO) != 0, plan.recording.pair_count,
                      plan.recording.sample_rate, &progress.input_done, &progress.written, "transmissions");
    received = receive_band(plan, &progress, &written, &error);
  }
  if (received != 0) return fail(error);
  if (!options.quiet) {
    std::fprintf(stderr, "kdsp-rx: %zu transmission%s written to %s\n", written, written == 1 ? "" : "s",
                 options.output_dir.c_str());
  }
  return 0;
}

}  // namespace

int run_program(int argc, char** argv) {
  CLI::App app;
  configure_tool_app(app, RX_HELP);
  RxOptions options;
  add_rx_options(app, &options);
  int exit_status = 0;
  if (!parse_tool_command_line(app, argc, argv, &exit_status)) return exit_status;
  const std::string conflict = complete_rx_options(app, &options);
  if (!conflict.empty()) return report_usage_error(app, conflict);
  try {
    if (options.all) return run_all(options);
    return run(options);
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  }
}

}  // namespace kdsp

int main(int argc, char** argv) { return kdsp::run_program(argc, argv); }
