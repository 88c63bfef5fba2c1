#include "kdsp-rx/all_channels.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "common/capture_file.h"
#include "kdsp-rx/capture_filter.h"
#include "kdsp-rx/channel_survey.h"
#include "kdsp-rx/channelizer.h"
#include "kdsp-rx/core_run.h"
#include "kdsp-rx/front_end.h"
#include "kdsp-rx/kernel_source.h"
#include "kdsp-rx/progress_line.h"
#include "kdsp-rx/transmission_record.h"
#include "kdsp-rx/transmission_tracker.h"

namespace kdsp {

namespace {

constexpr double CHANNEL_HALF_WIDTH_HZ = 12500.0;

std::string hz_text(double hz) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f Hz", hz);
  return text;
}

bool path_exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// The directory exists afterwards, and none of the record's files is in it
// unless they may be replaced.
int prepare_directory(const RxOptions& options, std::string* error) {
  struct stat info {};
  if (stat(options.output_dir.c_str(), &info) != 0) {
    if (mkdir(options.output_dir.c_str(), 0777) != 0) {
      *error = "the directory '" + options.output_dir + "' could not be made: " + std::strerror(errno);
      return -1;
    }
  } else if (!S_ISDIR(info.st_mode)) {
    *error = "'" + options.output_dir + "' is not a directory; give -O a directory";
    return -1;
  }
  if (options.force) return 0;
  for (const char* name : {RECORD_JSON_NAME, RECORD_CSV_NAME}) {
    const std::string path = options.output_dir + "/" + name;
    if ((name == std::string(RECORD_JSON_NAME) || options.csv) && path_exists(path)) {
      *error = "'" + path + "' is already there; give --force to replace it, or another -O directory";
      return -1;
    }
  }
  return 0;
}

double channel_reach_hz(const RecordingInfo& recording) { return recording.sample_rate / 2.0 - CHANNEL_HALF_WIDTH_HZ; }

// --channels as offsets: a value beyond half the rate is an absolute frequency.
int listed_offsets(const RxOptions& options, const RecordingInfo& recording, std::vector<double>* offsets,
                   std::string* error) {
  for (double value : options.channel_values) {
    double offset = value;
    if (std::fabs(value) > recording.sample_rate / 2.0) {
      if (!recording.centre_hz) {
        *error = "--channels " + hz_text(value) + " is a frequency, and the centre of '" + recording.path +
                 "' is not known; add --center HZ, or give offsets";
        return -1;
      }
      offset = value - *recording.centre_hz;
    }
    if (std::fabs(offset) > channel_reach_hz(recording)) {
      *error = "the channel at offset " + hz_text(offset) + " is outside the band of '" + recording.path + "' (" +
               recording.description + ": offsets from " + hz_text(-channel_reach_hz(recording)) + " to " +
               hz_text(channel_reach_hz(recording)) + "); choose channels inside it";
      return -1;
    }
    offsets->push_back(offset);
  }
  return 0;
}

// Found channels moved onto the raster (of absolute frequencies when the
// centre is known), each raster step once.
std::vector<double> snapped_offsets(const std::vector<double>& offsets, const RecordingInfo& recording,
                                    double raster_hz) {
  std::vector<double> snapped;
  const double centre = recording.centre_hz.value_or(0.0);
  for (double offset : offsets) {
    const double on_raster = std::round((centre + offset) / raster_hz) * raster_hz - centre;
    if (std::fabs(on_raster) > channel_reach_hz(recording)) continue;
    if (std::none_of(snapped.begin(), snapped.end(), [&](double other) { return std::fabs(other - on_raster) < 1.0; }))
      snapped.push_back(on_raster);
  }
  std::sort(snapped.begin(), snapped.end());
  return snapped;
}

// The band the squelch reads of each channel: half the gap to the nearest
// neighbour, at most half of a 25 kHz channel.
double measured_half_width_hz(const std::vector<double>& offsets, double raster_hz) {
  double half = CHANNEL_HALF_WIDTH_HZ;
  if (raster_hz > 0.0) half = std::min(half, raster_hz / 2.0);
  for (std::size_t i = 1; i < offsets.size(); ++i) half = std::min(half, (offsets[i] - offsets[i - 1]) / 2.0);
  return std::max(half, 2500.0);
}

// The width each channel's captures are filtered to before the core: the
// --bandwidth asked for, else the band the squelch reads when a neighbour
// lies closer than the voice chain's own filter reaches; 0 for none.
double capture_filter_width_hz(const RxOptions& options, double half_width_hz) {
  const double width = options.channel_width_hz > 0.0 ? options.channel_width_hz : 2.0 * half_width_hz;
  return width < VOICE_CHAIN_CHANNEL_WIDTH_HZ ? width : 0.0;
}

struct Assembly {
  std::string name;
  std::vector<std::vector<std::uint8_t>> wavs;  // by piece
  std::size_t pieces_done = 0;
  bool closed = false;
  ClosedTransmission info;
};

// What the channelizer's thread and the core's workers share.
struct AllRun {
  const RxOptions* options = nullptr;
  const RecordingInfo* recording = nullptr;
  const ChannelizerPlan* plan = nullptr;
  std::vector<std::vector<std::uint8_t>> kernels;         // by channel
  std::vector<std::vector<std::complex<float>>> filters;  // by channel; empty: none
  std::size_t max_queue = 1;

  std::mutex lock;
  std::condition_variable work_ready;
  std::condition_variable room;
  std::deque<PieceWork> queue;
  bool no_more = false;
  std::map<std::uint64_t, Assembly> assemblies;
  std::uint64_t next_number = 0;
  std::vector<TransmissionEntry> entries;
  std::string error;
  bool failed = false;
  std::atomic<std::uint64_t> written{0};
};

void record_failure(AllRun& run, const std::string& message) {
  const std::lock_guard<std::mutex> hold(run.lock);
  if (!run.failed) run.error = message;
  run.failed = true;
  run.room.notify_all();
  run.work_ready.notify_all();
}

std::optional<double> channel_frequency(const AllRun& run, std::size_t channel) {
  if (!run.recording->centre_hz) return std::nullopt;
  return *run.recording->centre_hz + run.plan->channels[channel].offset_hz;
}

std::string base_name(const std::string& file) { return file.substr(0, file.size() - 4); }

int keep_piece(const AllRun& run, const std::string& name, std::size_t piece, const PieceWork& work,
               const std::vector<std::uint8_t>& wav, std::string* cause) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".piece-%03zu", piece + 1);
  const std::string stem = run.options->pieces_dir + "/" + base_name(name) + suffix;
  std::vector<std::uint8_t> bytes(8 * work.capture.size());
  encode_float32_le(
      std::span<const float>(reinterpret_cast<const float*>(work.capture.data()), 2 * work.capture.size()),
      bytes.data());
  if (write_output_file((stem + ".iq").c_str(), bytes) != 0 || write_output_file((stem + ".wav").c_str(), wav) != 0) {
    *cause = "a piece could not be written to '" + run.options->pieces_dir + "'";
    return -1;
  }
  return 0;
}

// Joins a closed transmission's pieces and writes its WAV.
int write_transmission(const AllRun& run, Assembly& done, std::string* cause) {
  const std::vector<Piece>& pieces = done.info.pieces;
  const std::uint64_t total_samples = pieces.back().keep_end;
  std::vector<std::uint8_t> joined(CORE_WAV_HEADER_BYTES + 2 * total_samples);
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    const std::vector<std::uint8_t>& wav = done.wavs[k];
    if (check_emitted_samples(wav, pieces[k].pair_count / CORE_PAIRS_PER_SAMPLE, cause) != 0) return -1;
    const std::uint64_t local_begin = pieces[k].keep_begin - pieces[k].first_pair / CORE_PAIRS_PER_SAMPLE;
    std::memcpy(joined.data() + CORE_WAV_HEADER_BYTES + 2 * pieces[k].keep_begin,
                wav.data() + CORE_WAV_HEADER_BYTES + 2 * local_begin, 2 * (pieces[k].keep_end - pieces[k].keep_begin));
  }
  std::copy(done.wavs[0].begin(), done.wavs[0].begin() + static_cast<std::ptrdiff_t>(CORE_WAV_HEADER_BYTES),
            joined.begin());
  set_wav_sample_count(joined.data(), total_samples);
  done.wavs.clear();
  apply_after_demod(run.options->after, CORE_AUDIO_RATE,
                    std::span<std::uint8_t>(joined).subspan(CORE_WAV_HEADER_BYTES));
  const std::string path = run.options->output_dir + "/" + done.name;
  if (!run.options->force && path_exists(path)) {
    *cause = "'" + path + "' is already there; give --force to replace it, or another -O directory";
    return -1;
  }
  if (write_output_file(path.c_str(), joined) != 0) {
    *cause = "'" + path + "' could not be written";
    return -1;
  }
  return 0;
}

// Called with the lock held: takes the transmission out once it is whole.
bool take_if_whole(AllRun& run, std::uint64_t number, Assembly* whole) {
  auto found = run.assemblies.find(number);
  if (found == run.assemblies.end() || !found->second.closed ||
      found->second.pieces_done < found->second.info.pieces.size()) {
    return false;
  }
  *whole = std::move(found->second);
  run.assemblies.erase(found);
  return true;
}

void finish_whole(AllRun& run, Assembly& whole) {
  std::string cause;
  if (write_transmission(run, whole, &cause) != 0) {
    record_failure(run, cause);
    return;
  }
  TransmissionEntry entry;
  entry.offset_hz = run.plan->channels[whole.info.channel].offset_hz;
  entry.frequency_hz = channel_frequency(run, whole.info.channel);
  entry.start_s = static_cast<double>(whole.info.start_pair) / CORE_PAIR_RATE;
  entry.end_s = static_cast<double>(whole.info.end_pair) / CORE_PAIR_RATE;
  entry.level_db = whole.info.level_db;
  entry.file = whole.name;
  const std::lock_guard<std::mutex> hold(run.lock);
  run.entries.push_back(entry);
  ++run.written;
}

void run_piece(AllRun& run, PieceWork& work) {
  std::vector<std::uint8_t> wav;
  std::string cause;
  const std::vector<std::complex<float>>& filter = run.filters[work.channel];
  if (!filter.empty() && filter_capture(filter, &work.capture, &cause) != 0) {
    record_failure(run, cause);
    return;
  }
  if (run_kernel_on_capture(run.kernels[work.channel], reinterpret_cast<const float*>(work.capture.data()),
                            work.capture.size(), &wav, &cause) != 0) {
    record_failure(run, cause);
    return;
  }
  std::string name;
  {
    const std::lock_guard<std::mutex> hold(run.lock);
    name = run.assemblies[work.transmission].name;
  }
  if (!run.options->pieces_dir.empty() && keep_piece(run, name, work.piece, work, wav, &cause) != 0) {
    record_failure(run, cause);
    return;
  }
  work.capture = {};
  Assembly whole;
  bool is_whole = false;
  {
    const std::lock_guard<std::mutex> hold(run.lock);
    Assembly& assembly = run.assemblies[work.transmission];
    if (assembly.wavs.size() <= work.piece) assembly.wavs.resize(work.piece + 1);
    assembly.wavs[work.piece] = std::move(wav);
    ++assembly.pieces_done;
    is_whole = take_if_whole(run, work.transmission, &whole);
  }
  if (is_whole) finish_whole(run, whole);
}

void work(AllRun& run) {
  for (;;) {
    PieceWork piece;
    {
      std::unique_lock<std::mutex> hold(run.lock);
      run.work_ready.wait(hold, [&] { return run.failed || run.no_more || !run.queue.empty(); });
      if (run.failed || run.queue.empty()) return;
      piece = std::move(run.queue.front());
      run.queue.pop_front();
      run.room.notify_all();
    }
    try {
      run_piece(run, piece);
    } catch (const std::bad_alloc&) {
      record_failure(run, "out of memory");
    }
  }
}

int queue_piece(AllRun& run, PieceWork&& piece) {
  std::unique_lock<std::mutex> hold(run.lock);
  run.room.wait(hold, [&] { return run.failed || run.queue.size() < run.max_queue; });
  if (run.failed) return -1;
  run.queue.push_back(std::move(piece));
  run.work_ready.notify_one();
  return 0;
}

int closed_transmission(AllRun& run, ClosedTransmission&& done) {
  Assembly whole;
  bool is_whole = false;
  {
    const std::lock_guard<std::mutex> hold(run.lock);
    if (run.failed) return -1;
    Assembly& assembly = run.assemblies[done.transmission];
    assembly.info = std::move(done);
    assembly.closed = true;
    is_whole = take_if_whole(run, assembly.info.transmission, &whole);
  }
  if (is_whole) finish_whole(run, whole);
  return 0;
}

std::uint64_t open_transmission(AllRun& run, std::size_t channel, std::uint64_t start_pair) {
  const std::lock_guard<std::mutex> hold(run.lock);
  const std::uint64_t number = run.next_number++;
  run.assemblies[number].name =
      transmission_file_name(run.plan->channels[channel].offset_hz, channel_frequency(run, channel),
                             static_cast<double>(start_pair) / CORE_PAIR_RATE);
  return number;
}

// Each channel's kernel, made before any work so that a mistake in a kernel
// source stops the run at once.
int load_kernels(const RxOptions& options, const ChannelizerPlan& plan, std::vector<std::vector<std::uint8_t>>* kernels,
                 std::string* error) {
  for (const ChannelPlacement& channel : plan.channels) {
    kernels->emplace_back();
    if (load_kernel(options.kernel_path, options.definitions, channel.placed_offset_hz, &kernels->back(), error) != 0)
      return -1;
  }
  return 0;
}

int choose_channels(const RxOptions& options, const RecordingInfo& recording, std::vector<double>* offsets,
                    std::string* error) {
  if (!options.channel_values.empty()) return listed_offsets(options, recording, offsets, error);
  std::vector<SurveyedChannel> found;
  if (survey_channels(recording, channel_reach_hz(recording), &found, error) != 0) return -1;
  for (const SurveyedChannel& channel : found) offsets->push_back(std::round(channel.offset_hz));
  if (options.raster_hz > 0.0) *offsets = snapped_offsets(*offsets, recording, options.raster_hz);
  return 0;
}

void announce_channels(const RxOptions& options, const RecordingInfo& recording, const std::vector<double>& offsets,
                       double filter_width_hz) {
  if (options.quiet) return;
  std::string list;
  for (double offset : offsets) {
    list += list.empty() ? " " : ", ";
    list += recording.centre_hz ? hz_text(*recording.centre_hz + offset) : "offset " + hz_text(offset);
  }
  if (filter_width_hz > 0.0 && !offsets.empty()) list += "; each filtered to " + hz_text(filter_width_hz);
  std::fprintf(stderr, "kdsp-rx: %zu channel%s%s\n", offsets.size(), offsets.size() == 1 ? "" : "s",
               offsets.empty() ? " found" : (":" + list).c_str());
}

int write_record(const RxOptions& options, std::vector<TransmissionEntry> entries, std::string* error) {
  sort_transmissions(&entries);
  const std::string json = transmissions_json(entries);
  const std::string path = options.output_dir + "/" + RECORD_JSON_NAME;
  if (write_output_file(path.c_str(), std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(json.data()),
                                                                    json.size())) != 0) {
    *error = "'" + path + "' could not be written";
    return -1;
  }
  if (!options.csv) return 0;
  const std::string csv = transmissions_csv(entries);
  const std::string csv_path = options.output_dir + "/" + RECORD_CSV_NAME;
  if (write_output_file(csv_path.c_str(), std::span<const std::uint8_t>(
                                              reinterpret_cast<const std::uint8_t*>(csv.data()), csv.size())) != 0) {
    *error = "'" + csv_path + "' could not be written";
    return -1;
  }
  return 0;
}

}  // namespace

int run_all_channels(const RxOptions& options, std::string* error) {
  RecordingInfo recording;
  if (describe_recording(options.recording, &recording, error) != 0) return -1;
  if (prepare_directory(options, error) != 0) return -1;
  std::vector<double> offsets;
  if (choose_channels(options, recording, &offsets, error) != 0) return -1;
  const double half_width_hz = measured_half_width_hz(offsets, options.raster_hz);
  const double filter_width_hz = capture_filter_width_hz(options, half_width_hz);
  announce_channels(options, recording, offsets, filter_width_hz);

  const ChannelizerPlan plan = plan_channelizer(recording.sample_rate, recording.pair_count, offsets, half_width_hz);
  AllRun run;
  run.options = &options;
  run.recording = &recording;
  run.plan = &plan;
  if (load_kernels(options, plan, &run.kernels, error) != 0) return -1;
  for (const ChannelPlacement& channel : plan.channels) {
    run.filters.push_back(filter_width_hz > 0.0 ? channel_filter_taps(filter_width_hz, channel.placed_offset_hz)
                                                : std::vector<std::complex<float>>{});
  }
  const unsigned threads =
      options.threads != 0 ? static_cast<unsigned>(options.threads) : std::max(1u, std::thread::hardware_concurrency());
  run.max_queue = threads;

  TrackerSettings settings;
  settings.threshold_db = options.squelch_db.value_or(DEFAULT_ALL_SQUELCH_DB);
  TrackerOutput output;
  output.next_transmission = [&run](std::size_t channel, std::uint64_t start) {
    return open_transmission(run, channel, start);
  };
  output.piece = [&run](PieceWork&& piece) { return queue_piece(run, std::move(piece)); };
  output.closed = [&run](ClosedTransmission&& done) { return closed_transmission(run, std::move(done)); };
  std::vector<TransmissionTracker> trackers;
  trackers.reserve(plan.channels.size());
  for (std::size_t c = 0; c < plan.channels.size(); ++c)
    trackers.emplace_back(c, plan.channels[c].bands, settings, &output);

  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) workers.emplace_back(work, std::ref(run));
  std::atomic<std::uint64_t> input_done{0};
  int split = 0;
  {
    ProgressLine line(!options.quiet && isatty(STDERR_FILENO) != 0, recording.pair_count, recording.sample_rate,
                      &input_done, &run.written, "transmissions");
    if (!plan.channels.empty()) {
      split = run_channelizer(
          plan, recording, threads, &input_done,
          [&](std::size_t channel, const std::complex<float>* pairs, std::size_t count, std::string* cause) {
            if (trackers[channel].feed(pairs, count) == 0) return 0;
            *cause = "stopped";
            return -1;
          },
          error);
      for (std::size_t c = 0; split == 0 && c < trackers.size(); ++c) {
        if (trackers[c].finish() != 0) split = -1;
      }
    }
    {
      const std::lock_guard<std::mutex> hold(run.lock);
      run.no_more = true;
      if (split != 0 && !run.failed) {
        run.failed = true;
        run.error = "'" + recording.path + "': " + *error;
      }
    }
    run.work_ready.notify_all();
    run.room.notify_all();
    for (std::thread& worker : workers) worker.join();
  }
  if (run.failed) {
    *error = run.error;
    return -1;
  }
  if (write_record(options, run.entries, error) != 0) return -1;
  if (!options.quiet) {
    std::fprintf(stderr, "kdsp-rx: %zu transmission%s written to %s\n", run.entries.size(),
                 run.entries.size() == 1 ? "" : "s", options.output_dir.c_str());
  }
  return 0;
}

}  // namespace kdsp
