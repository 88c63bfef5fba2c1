#include "radio/traffic/band_receiver.h"

#include <cmath>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "radio/base/work_pool.h"
#include "radio/chain/capture_filter.h"
#include "radio/io/regular_file.h"
#include "radio/kernel/core_run.h"
#include "radio/kernel/piece_join.h"
#include "radio/traffic/output_folder.h"
#include "radio/traffic/transmission_record.h"
#include "radio/traffic/transmission_tracker.h"

namespace kdsp {

namespace {

// A transmission between its opening and its WAV: the pieces' WAVs as the
// core runs them, and what the tracker says when it closes.
struct Assembly {
  std::string name;
  std::vector<std::vector<std::uint8_t>> wavs;  // by piece
  std::size_t pieces_done = 0;
  bool closed = false;
  ClosedTransmission info;
};

// What the workers share; everything but the channelizer's work and the
// trackers (which only the ordered stage touches) under the pool's lock.
struct BandRun {
  const BandPlan* plan = nullptr;
  BandProgress* progress = nullptr;
  WorkPool pool;
  Channelizer split;
  std::vector<TransmissionTracker> trackers;
  TrackerOutput tracker_output;
  std::size_t max_queue = 1;

  std::deque<PieceWork> queue;
  bool trackers_finished = false;
  std::map<std::uint64_t, Assembly> assemblies;
  std::uint64_t next_number = 0;
  std::vector<TransmissionEntry> entries;
  DropoutTimeline dropouts;  // the ordered stage's alone
};

std::string base_name(const std::string& file) { return file.substr(0, file.size() - 4); }

// Joins a closed transmission's pieces and writes its WAV.
int write_transmission(const BandPlan& plan, Assembly& done, Failure* failure) {
  std::vector<std::uint8_t> joined;
  if (join_piece_wavs(done.info.pieces, done.wavs, &joined, failure) != 0) return -1;
  done.wavs.clear();
  if (apply_after_demod(plan.request.after, CORE_AUDIO_RATE,
                        std::span<std::uint8_t>(joined).subspan(CORE_WAV_HEADER_BYTES), failure) != 0) {
    return -1;
  }
  const std::string path = plan.request.output_dir + "/" + done.name;
  if (same_file(path, plan.recording.data_path) || same_file(path, plan.recording.path)) {
    *failure = Failure{"'" + path + "' is the recording itself", "give another -O directory", path};
    return -1;
  }
  if (!plan.request.force && path_exists(path)) {
    *failure = Failure{"'" + path + "' is already there; give --force to replace it, or another -O directory"};
    return -1;
  }
  if (write_output_file(path.c_str(), joined) != 0) {
    *failure = Failure{"'" + path + "' could not be written"};
    return -1;
  }
  return 0;
}

// Called with the lock held: takes the transmission out once it is whole.
bool take_if_whole(BandRun& run, std::uint64_t number, Assembly* whole) {
  auto found = run.assemblies.find(number);
  if (found == run.assemblies.end() || !found->second.closed ||
      found->second.pieces_done < found->second.info.pieces.size()) {
    return false;
  }
  *whole = std::move(found->second);
  run.assemblies.erase(found);
  return true;
}

int finish_whole(BandRun& run, Assembly& whole, Failure* failure) {
  if (write_transmission(*run.plan, whole, failure) != 0) return -1;
  TransmissionEntry entry;
  entry.offset_hz = run.plan->split.channels[whole.info.channel].offset_hz;
  entry.frequency_hz = channel_frequency(*run.plan, whole.info.channel);
  entry.start_s = static_cast<double>(whole.info.start_pair) / CORE_PAIR_RATE;
  entry.end_s = static_cast<double>(whole.info.end_pair) / CORE_PAIR_RATE;
  entry.level_db = whole.info.level_db;
  entry.file = whole.name;
  run.pool.update([&] { run.entries.push_back(entry); });
  ++run.progress->written;
  return 0;
}

int run_piece(BandRun& run, PieceWork& work, Failure* failure) {
  const BandPlan& plan = *run.plan;
  std::vector<std::uint8_t> wav;
  const std::vector<std::complex<float>>& filter = plan.filters[work.channel];
  if (!filter.empty() && filter_capture(filter, &work.capture, failure) != 0) return -1;
  if (run_kernel_on_capture(plan.kernels[work.channel], reinterpret_cast<const float*>(work.capture.data()),
                            work.capture.size(), &wav, failure) != 0) {
    return -1;
  }
  if (!plan.request.pieces_dir.empty()) {
    std::string name;
    run.pool.update([&] { name = run.assemblies[work.transmission].name; });
    if (keep_piece(plan.request.pieces_dir, base_name(name) + ".", work.piece, work.capture, wav, failure) != 0) {
      return -1;
    }
  }
  work.capture = {};
  Assembly whole;
  bool is_whole = false;
  run.pool.update([&] {
    Assembly& assembly = run.assemblies[work.transmission];
    if (assembly.wavs.size() <= work.piece) assembly.wavs.resize(work.piece + 1);
    assembly.wavs[work.piece] = std::move(wav);
    ++assembly.pieces_done;
    is_whole = take_if_whole(run, work.transmission, &whole);
  });
  return is_whole ? finish_whole(run, whole, failure) : 0;
}

int closed_transmission(BandRun& run, ClosedTransmission&& done) {
  Assembly whole;
  bool is_whole = false;
  run.pool.update([&] {
    Assembly& assembly = run.assemblies[done.transmission];
    assembly.info = std::move(done);
    assembly.closed = true;
    is_whole = take_if_whole(run, assembly.info.transmission, &whole);
  });
  if (!is_whole) return 0;
  Failure failure;
  if (finish_whole(run, whole, &failure) == 0) return 0;
  run.pool.fail(failure);
  return -1;
}

std::uint64_t open_transmission(BandRun& run, std::size_t channel, std::uint64_t start_pair) {
  std::uint64_t number = 0;
  run.pool.update([&] {
    number = run.next_number++;
    run.assemblies[number].name =
        transmission_file_name(run.plan->split.channels[channel].offset_hz, channel_frequency(*run.plan, channel),
                               static_cast<double>(start_pair) / CORE_PAIR_RATE);
  });
  return number;
}

// The ordered stage: the next block to every channel's tracker, and once
// every capture is whole, the trackers closed.
int hand_on_next_block(BandRun& run, Failure* failure) {
  const int handed = run.split.hand_on(
      [&](std::size_t channel, const std::complex<float>* pairs, std::size_t count, Failure* stopped) {
        if (run.trackers[channel].feed(pairs, count) == 0) return 0;
        *stopped = Failure{"stopped"};
        return -1;
      },
      &run.dropouts, failure);
  if (handed != 0) {
    prefix_failure(failure, "'" + run.plan->recording.path + "': ");
    return -1;
  }
  bool finished = false;
  run.pool.update([&] {
    run.split.block_handed_on();
    finished = run.split.finished();
  });
  run.progress->input_done = run.split.input_done();
  if (!finished) return 0;
  for (TransmissionTracker& tracker : run.trackers) {
    if (tracker.finish() != 0) {
      *failure = Failure{"stopped"};
      return -1;
    }
  }
  run.pool.update([&] { run.trackers_finished = true; });
  return 0;
}

PoolTask core_task(BandRun& run) {
  auto piece = std::make_shared<PieceWork>(std::move(run.queue.front()));
  run.queue.pop_front();
  return [&run, piece](unsigned, Failure* failure) { return run_piece(run, *piece, failure); };
}

// With the pool's lock held: what a worker does next (see band_receiver.h).
NextTask pick_task(BandRun& run, unsigned running, PoolTask* task) {
  if (run.queue.size() >= run.max_queue) {
    *task = core_task(run);
    return NextTask::RUN;
  }
  if (run.split.can_hand_on()) {
    run.split.take_hand_on();
    *task = [&run](unsigned, Failure* failure) { return hand_on_next_block(run, failure); };
    return NextTask::RUN;
  }
  if (run.split.can_split()) {
    const std::uint64_t block = run.split.take_block_to_split();
    *task = [&run, block](unsigned worker, Failure* failure) {
      if (run.split.split(block, worker, failure) != 0) {
        prefix_failure(failure, "'" + run.plan->recording.path + "': ");
        return -1;
      }
      run.pool.update([&] { run.split.block_split(block); });
      return 0;
    };
    return NextTask::RUN;
  }
  if (!run.queue.empty()) {
    *task = core_task(run);
    return NextTask::RUN;
  }
  const bool all_done = (run.trackers_finished || run.plan->split.channels.empty()) && running == 0;
  return all_done ? NextTask::DONE : NextTask::WAIT;
}

// Whether capture pairs [first, end) of any channel come from a dropout: the
// capture runs at the core's rate, the recording at its own.
bool capture_in_dropout(const BandRun& run, std::uint64_t first, std::uint64_t end) {
  const double ratio = run.plan->recording.sample_rate / CORE_PAIR_RATE;
  const auto input_first = static_cast<std::uint64_t>(std::floor(static_cast<double>(first) * ratio));
  const auto input_end = static_cast<std::uint64_t>(std::ceil(static_cast<double>(end) * ratio));
  return run.dropouts.overlaps(input_first, input_end);
}

}  // namespace

int receive_band(const BandPlan& plan, BandProgress* progress, BandResult* result, Failure* failure) {
  auto run = std::make_unique<BandRun>();
  run->plan = &plan;
  run->progress = progress;
  const unsigned threads = std::max(1u, plan.request.threads);
  run->max_queue = threads;
  if (run->split.open(plan.split, plan.recording, threads, failure) != 0) return -1;

  TrackerSettings settings;
  settings.threshold_db = plan.request.squelch_db;
  BandRun& r = *run;
  r.tracker_output.next_transmission = [&r](std::size_t channel, std::uint64_t start) {
    return open_transmission(r, channel, start);
  };
  r.tracker_output.piece = [&r](PieceWork&& piece) {
    r.pool.update([&] { r.queue.push_back(std::move(piece)); });
    return 0;
  };
  r.tracker_output.closed = [&r](ClosedTransmission&& done) { return closed_transmission(r, std::move(done)); };
  r.tracker_output.in_dropout = [&r](std::uint64_t first, std::uint64_t end) {
    return capture_in_dropout(r, first, end);
  };
  r.trackers.resize(plan.split.channels.size());
  for (std::size_t c = 0; c < plan.split.channels.size(); ++c) {
    if (r.trackers[c].start(c, plan.split.channels[c].bands, settings, &r.tracker_output, failure) != 0) return -1;
  }
  const TaskPicker pick = [&r](unsigned running, PoolTask* task) { return pick_task(r, running, task); };
  if (r.pool.run(threads, pick, failure) != 0) return -1;
  progress->input_done = plan.recording.pair_count;
  if (write_transmission_record(plan.request.output_dir, plan.request.csv, r.entries, failure) != 0) return -1;
  result->written = r.entries.size();
  result->dropouts = r.dropouts.spans();
  return 0;
}

}  // namespace kdsp
