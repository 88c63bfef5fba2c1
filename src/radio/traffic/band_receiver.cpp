#include "radio/traffic/band_receiver.h"

#include <algorithm>
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
#include "radio/tones/tone_decoder.h"
#include "radio/traffic/output_folder.h"
#include "radio/traffic/transmission_record.h"
#include "radio/traffic/transmission_tracker.h"

namespace kdsp {

namespace {

// A transmission between its opening and its WAV: the pieces' WAVs as the
// core runs them, and what the tracker says when it closes.
struct Assembly {
  std::string name;                             // of the pieces kept with --keep-pieces
  std::vector<std::vector<std::uint8_t>> wavs;  // by piece
  std::size_t pieces_done = 0;
  bool closed = false;
  ClosedTransmission info;
  HeardTone tone;           // read from the first piece
  std::string skip_reason;  // decided when it closed; empty: kept so far
};

// A transmission the ordered stage has seen close, for comparing the
// neighbours' with it.
struct ClosedSummary {
  std::size_t channel = 0;
  std::uint64_t start_pair = 0;
  std::uint64_t end_pair = 0;
  double level_db = 0.0;
};

// A transmission heard in a channel while a transmission at least this much
// stronger covers most of its time in a channel this close is that
// transmission's skirt, not a call of its own.
constexpr double NEIGHBOUR_REACH_HZ = 30000.0;
constexpr double NEIGHBOUR_MARGIN_DB = 10.0;
constexpr double NEIGHBOUR_OVERLAP = 0.8;
// Closed transmissions kept for that comparison, by their end.
constexpr double NEIGHBOUR_MEMORY_S = 60.0;

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
  std::vector<SkippedEntry> skipped;
  DropoutTimeline dropouts;          // the ordered stage's alone
  std::deque<ClosedSummary> recent;  // the ordered stage's alone
};

std::string base_name(const std::string& file) { return file.substr(0, file.size() - 4); }

// Joins a closed transmission's pieces and writes its WAV under `name`.
int write_transmission(const BandPlan& plan, Assembly& done, const std::string& name, Failure* failure) {
  std::vector<std::uint8_t> joined;
  if (join_piece_wavs(done.info.pieces, done.wavs, &joined, failure) != 0) return -1;
  done.wavs.clear();
  if (apply_after_demod(plan.request.after, CORE_AUDIO_RATE,
                        std::span<std::uint8_t>(joined).subspan(CORE_WAV_HEADER_BYTES), failure) != 0) {
    return -1;
  }
  const std::string path = plan.request.output_dir + "/" + name;
  if (make_parent_folders(plan.request.output_dir, name, failure) != 0) return -1;
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

// What the record says of a transmission, but its file.
TransmissionEntry heard_entry(const BandRun& run, const Assembly& whole) {
  const BandPlan& plan = *run.plan;
  TransmissionEntry entry;
  entry.offset_hz = plan.split.channels[whole.info.channel].offset_hz;
  entry.frequency_hz = channel_frequency(plan, whole.info.channel);
  entry.start_s = static_cast<double>(whole.info.start_pair) / CORE_PAIR_RATE;
  entry.end_s = static_cast<double>(whole.info.end_pair) / CORE_PAIR_RATE;
  entry.level_db = whole.info.level_db;
  entry.tone = whole.tone;
  entry.cut = whole.info.cut;
  if (plan.recording.start_time) {
    // From pair counts at the core's rate, never accumulated.
    UtcTime at;
    if (utc_time_at_sample(*plan.recording.start_time, whole.info.start_pair, CORE_PAIR_RATE, &at) == 0) {
      entry.start_utc = at;
    }
    if (utc_time_at_sample(*plan.recording.start_time, whole.info.end_pair, CORE_PAIR_RATE, &at) == 0) {
      entry.end_utc = at;
    }
    entry.time_source = plan.recording.start_source;
  }
  return entry;
}

bool tone_wanted(const std::vector<Tone>& wanted, const HeardTone& heard) {
  if (wanted.empty()) return true;
  return std::any_of(wanted.begin(), wanted.end(), [&](const Tone& tone) {
    return tone == heard.tone || (heard.tone.kind == ToneKind::DCS && tone == heard.dcs_alias);
  });
}

void skip(BandRun& run, TransmissionEntry entry, const std::string& reason) {
  run.pool.update([&] { run.skipped.push_back({std::move(entry), reason}); });
}

int finish_whole(BandRun& run, Assembly& whole, Failure* failure) {
  const BandPlan& plan = *run.plan;
  TransmissionEntry entry = heard_entry(run, whole);
  if (!whole.skip_reason.empty()) {
    skip(run, entry, whole.skip_reason);
    return 0;
  }
  std::string label;
  if (!label_for(plan, whole.info.channel, whole.tone.tone, &label) || !tone_wanted(plan.request.tones, whole.tone)) {
    skip(run, entry, "tone_mismatch");
    return 0;
  }
  if (!plan.labels.empty() && !plan.labels[whole.info.channel].empty()) entry.label = label;
  NameFields fields;
  fields.offset_hz = entry.offset_hz;
  fields.frequency_hz = entry.frequency_hz;
  fields.start_s = entry.start_s;
  fields.start_utc = entry.start_utc;
  fields.label = label;
  fields.tone = whole.tone.tone;
  fields.number = whole.info.transmission + 1;
  std::string name;
  if (expand_name_template(plan.names, fields, &name, failure) != 0) return -1;
  entry.file = name + ".wav";
  if (write_transmission(plan, whole, entry.file, failure) != 0) return -1;
  run.pool.update([&] { run.entries.push_back(entry); });
  ++run.progress->written;
  return 0;
}

// Reads the sub-audible tone from a transmission's first piece.
int read_tone(const BandRun& run, const PieceWork& work, HeardTone* heard, Failure* failure) {
  ToneDecoder decoder;
  if (create_tone_decoder(run.plan->split.channels[work.channel].placed_offset_hz, &decoder, failure) != 0) return -1;
  feed_tone_decoder(*decoder, work.capture);
  const ToneReading reading = finish_tone_decoder(*decoder);
  *heard = HeardTone{reading.tone, reading.dcs_alias, reading.confidence};
  return 0;
}

int run_piece(BandRun& run, PieceWork& work, Failure* failure) {
  const BandPlan& plan = *run.plan;
  HeardTone tone;
  if (work.piece == 0 && read_tone(run, work, &tone, failure) != 0) return -1;
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
    if (work.piece == 0) assembly.tone = tone;
    if (assembly.wavs.size() <= work.piece) assembly.wavs.resize(work.piece + 1);
    assembly.wavs[work.piece] = std::move(wav);
    ++assembly.pieces_done;
    is_whole = take_if_whole(run, work.transmission, &whole);
  });
  return is_whole ? finish_whole(run, whole, failure) : 0;
}

// In the ordered stage, when `done` closes: whether a stronger transmission
// in a channel close by covers most of its time (closed already, or still
// open), making it that one's skirt.
bool is_neighbours_skirt(BandRun& run, const ClosedTransmission& done) {
  const BandPlan& plan = *run.plan;
  const double offset = plan.split.channels[done.channel].offset_hz;
  const auto covers = [&](std::uint64_t start, std::uint64_t end) {
    const std::uint64_t from = std::max(start, done.start_pair);
    const std::uint64_t to = std::min(end, done.end_pair);
    return to > from &&
           static_cast<double>(to - from) >= NEIGHBOUR_OVERLAP * static_cast<double>(done.end_pair - done.start_pair);
  };
  const auto near = [&](std::size_t channel) {
    return channel != done.channel && std::fabs(plan.split.channels[channel].offset_hz - offset) <= NEIGHBOUR_REACH_HZ;
  };
  for (const ClosedSummary& other : run.recent) {
    if (near(other.channel) && other.level_db >= done.level_db + NEIGHBOUR_MARGIN_DB &&
        covers(other.start_pair, other.end_pair)) {
      return true;
    }
  }
  for (std::size_t c = 0; c < run.trackers.size(); ++c) {
    const TransmissionTracker& tracker = run.trackers[c];
    if (near(c) && tracker.is_open() && tracker.open_level_db() >= done.level_db + NEIGHBOUR_MARGIN_DB &&
        covers(tracker.open_since_pair(), done.end_pair)) {
      return true;
    }
  }
  return false;
}

void remember_closed(BandRun& run, const ClosedTransmission& done) {
  run.recent.push_back({done.channel, done.start_pair, done.end_pair, done.level_db});
  const auto memory = static_cast<std::uint64_t>(NEIGHBOUR_MEMORY_S * CORE_PAIR_RATE);
  while (!run.recent.empty() && run.recent.front().end_pair + memory < done.end_pair) run.recent.pop_front();
}

int closed_transmission(BandRun& run, ClosedTransmission&& done) {
  const bool skirt = is_neighbours_skirt(run, done);
  remember_closed(run, done);
  Assembly whole;
  bool is_whole = false;
  run.pool.update([&] {
    Assembly& assembly = run.assemblies[done.transmission];
    assembly.info = std::move(done);
    assembly.closed = true;
    if (skirt) assembly.skip_reason = "neighbour";
    is_whole = take_if_whole(run, assembly.info.transmission, &whole);
  });
  if (!is_whole) return 0;
  Failure failure;
  if (finish_whole(run, whole, &failure) == 0) return 0;
  run.pool.fail(failure);
  return -1;
}

// A transmission shorter than the shortest kept: no piece of it ran.
void too_short_transmission(BandRun& run, const ClosedTransmission& done) {
  Assembly dropped;
  run.pool.update([&] {
    auto found = run.assemblies.find(done.transmission);
    if (found != run.assemblies.end()) run.assemblies.erase(found);
  });
  dropped.info = done;
  skip(run, heard_entry(run, dropped), "too_short");
}

std::uint64_t open_transmission(BandRun& run, std::size_t channel, std::uint64_t start_pair) {
  std::uint64_t number = 0;
  run.pool.update([&] {
    number = run.next_number++;
    // Kept pieces are named as the transmission would be without a start
    // time, tone or label: what is known when it opens.
    NameFields fields;
    fields.offset_hz = run.plan->split.channels[channel].offset_hz;
    fields.frequency_hz = channel_frequency(*run.plan, channel);
    fields.start_s = static_cast<double>(start_pair) / CORE_PAIR_RATE;
    Failure unused;
    std::string name;
    expand_name_template(run.plan->piece_names, fields, &name, &unused);
    run.assemblies[number].name = name + ".wav";
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
  settings.min_s = plan.request.min_duration_s;
  settings.max_s = plan.request.max_duration_s;
  BandRun& r = *run;
  r.tracker_output.next_transmission = [&r](std::size_t channel, std::uint64_t start) {
    return open_transmission(r, channel, start);
  };
  r.tracker_output.piece = [&r](PieceWork&& piece) {
    r.pool.update([&] { r.queue.push_back(std::move(piece)); });
    return 0;
  };
  r.tracker_output.closed = [&r](ClosedTransmission&& done) { return closed_transmission(r, std::move(done)); };
  r.tracker_output.too_short = [&r](const ClosedTransmission& done) { too_short_transmission(r, done); };
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
  if (write_transmission_record(plan.request.output_dir, plan.request.csv, r.entries, r.skipped, failure) != 0)
    return -1;
  result->written = r.entries.size();
  result->dropouts = r.dropouts.spans();
  return 0;
}

}  // namespace kdsp
