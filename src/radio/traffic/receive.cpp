#include "radio/traffic/receive.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "radio/base/work_pool.h"
#include "radio/kernel/core_run.h"
#include "radio/kernel/piece_join.h"

namespace kdsp {

namespace {

struct PieceFailure {
  std::size_t piece = 0;
  Failure failure;
};

// The joined audio delivered in recording order as pieces finish: the header
// with piece 1, then each piece's kept samples once those before it are out.
// A piece that finishes early waits here, holding only its kept samples.
struct StreamedJoin {
  OutputStream* stream = nullptr;
  std::uint64_t total_samples = 0;
  std::size_t next_piece = 0;
  std::map<std::size_t, std::vector<std::uint8_t>> waiting;
  bool failed = false;
};

// What the workers share, under the pool's lock but for each piece's own
// part of the joined audio and of the squelch windows.
struct SharedRun {
  const ReceiveJob* job = nullptr;
  ReceiveProgress* progress = nullptr;
  WorkPool pool;
  std::vector<std::unique_ptr<RecordingReader>> readers;  // by worker, opened on its first piece
  std::uint8_t* joined_samples = nullptr;                 // in memory: 16-bit little-endian samples after the header
  StreamedJoin* streamed = nullptr;                       // else streamed
  std::size_t next_piece = 0;
  std::vector<PieceFailure> failures;
  std::vector<double> window_cnr;     // with --squelch: each piece fills its own windows
  std::vector<DropoutSpan> dropouts;  // with --squelch: as the pieces find them, any order
};

constexpr std::size_t DROPOUT_READ_PAIRS = 65536;

// The dropouts of recording pairs [first, end), read in blocks.
int find_dropouts(RecordingReader& reader, std::uint64_t first, std::uint64_t end, DropoutTimeline* timeline,
                  Failure* failure) {
  std::vector<std::complex<float>> block;
  for (std::uint64_t at = first; at < end; at += DROPOUT_READ_PAIRS) {
    block.resize(static_cast<std::size_t>(std::min<std::uint64_t>(DROPOUT_READ_PAIRS, end - at)));
    if (read_recording_pairs(reader, static_cast<std::int64_t>(at), block.size(), block.data(), failure) != 0) {
      return -1;
    }
    timeline->add(at, block);
  }
  return 0;
}

// The squelch windows a piece measures that come from a dropout of the
// recording (no signal, no noise) read as nothing over the noise: a
// dropout opens nothing. The piece's dropouts are kept to be said.
int close_dropout_windows(SharedRun& run, RecordingReader& reader, const Piece& piece, Failure* failure) {
  const RecordingInfo& recording = run.job->recording;
  const double ratio = recording.sample_rate / CORE_PAIR_RATE;
  const auto input_at = [ratio](std::uint64_t pair, bool up) {
    const double position = static_cast<double>(pair) * ratio;
    return static_cast<std::uint64_t>(up ? std::ceil(position) : std::floor(position));
  };
  const std::uint64_t input_end = std::min(recording.pair_count, input_at(piece.first_pair + piece.pair_count, true));
  DropoutTimeline timeline;
  if (find_dropouts(reader, input_at(piece.first_pair, false), input_end, &timeline, failure) != 0) return -1;
  if (timeline.spans().empty()) return 0;
  for (std::uint64_t w : piece_window_indices(piece)) {
    const std::uint64_t first = w * CNR_WINDOW_PAIRS;
    if (timeline.overlaps(input_at(first, false), input_at(first + CNR_WINDOW_PAIRS, true))) {
      run.window_cnr[w] = CNR_FLOOR_DB;
    }
  }
  run.pool.update([&] { run.dropouts.insert(run.dropouts.end(), timeline.spans().begin(), timeline.spans().end()); });
  return 0;
}

int measure_windows(const SquelchPlan& squelch, const Piece& piece, const std::complex<float>* capture,
                    std::vector<double>* cnr_db, Failure* failure) {
  if (measure_piece_windows(squelch, piece, capture, cnr_db) == 0) return 0;
  *failure = Failure{"out of memory"};
  return -1;
}

// Measures the squelch windows of a piece, on its capture or, behind a
// channel filter, on the capture converted without the filter.
int measure_squelch(SharedRun& run, RecordingReader& reader, const Piece& piece, const std::complex<float>* capture,
                    Failure* failure) {
  const SquelchPlan& squelch = *run.job->squelch;
  if (!squelch.measure_unfiltered) {
    if (measure_windows(squelch, piece, capture, &run.window_cnr, failure) != 0) return -1;
    return close_dropout_windows(run, reader, piece, failure);
  }
  std::vector<std::complex<float>> unfiltered(piece.pair_count);
  if (convert_span(squelch.unfiltered, reader, piece.first_pair, piece.pair_count, unfiltered.data(), failure) != 0) {
    return -1;
  }
  if (measure_windows(squelch, piece, unfiltered.data(), &run.window_cnr, failure) != 0) return -1;
  return close_dropout_windows(run, reader, piece, failure);
}

std::string seconds_text(std::uint64_t pairs) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(pairs) / CORE_PAIR_RATE);
  return text;
}

// Says which piece failed, when there are several.
void name_failed_piece(const ReceiveJob& job, std::size_t index, Failure* failure) {
  if (job.pieces.size() == 1) return;
  const Piece& piece = job.pieces[index];
  prefix_failure(failure, "piece " + std::to_string(index + 1) + " of " + std::to_string(job.pieces.size()) + " (" +
                              seconds_text(piece.first_pair) + " to " +
                              seconds_text(piece.first_pair + piece.pair_count) + "): ");
}

// With the pool's lock held: appends what may go out now: piece `index`'s
// kept samples (after the header when it is the first piece) if every piece
// before it is out, then any waiting pieces that follow it; else keeps a
// copy for later.
int deliver_in_order(StreamedJoin& join, std::size_t index, std::span<const std::uint8_t> kept, Failure* failure) {
  if (join.failed) return -1;
  if (index != join.next_piece) {
    join.waiting.emplace(index, std::vector<std::uint8_t>(kept.begin(), kept.end()));
    return 0;
  }
  bool written = true;
  if (index == 0) {
    std::vector<std::uint8_t> header(CORE_WAV_HEADER_BYTES);
    write_joined_wav_header(header.data(), join.total_samples);
    written = append_streamed_output(join.stream, header) == 0;
  }
  written = written && append_streamed_output(join.stream, kept) == 0;
  ++join.next_piece;
  for (auto next = join.waiting.find(join.next_piece); written && next != join.waiting.end();
       next = join.waiting.find(join.next_piece)) {
    written = append_streamed_output(join.stream, next->second) == 0;
    join.waiting.erase(next);
    ++join.next_piece;
  }
  if (!written) {
    join.failed = true;
    *failure = Failure{"the WAV could not be written"};
    return -1;
  }
  return 0;
}

RecordingReader* worker_reader(SharedRun& run, unsigned worker, Failure* failure) {
  std::unique_ptr<RecordingReader>& reader = run.readers[worker];
  if (!reader) {
    auto opened = std::make_unique<RecordingReader>();
    if (open_recording_reader(run.job->recording, opened.get(), failure) != 0) return nullptr;
    reader = std::move(opened);
  }
  return reader.get();
}

// Converts one piece, runs the core on it, and hands its kept audio to the
// join. 0, or -1 with `*cause` set.
int run_piece(SharedRun& run, unsigned worker, std::size_t index, Failure* failure) {
  const ReceiveJob& job = *run.job;
  const Piece& piece = job.pieces[index];
  RecordingReader* reader = worker_reader(run, worker, failure);
  if (reader == nullptr) return -1;
  std::unique_ptr<std::complex<float>[]> capture(new (std::nothrow) std::complex<float>[piece.pair_count]);
  if (!capture) {
    *failure = Failure{"out of memory"};
    return -1;
  }
  if (convert_span(job.front_end, *reader, piece.first_pair, piece.pair_count, capture.get(), failure) != 0) return -1;
  if (job.squelch && measure_squelch(run, *reader, piece, capture.get(), failure) != 0) return -1;
  run.progress->pairs_done += piece.pair_count;
  std::vector<std::uint8_t> wav;
  if (run_kernel_on_capture(job.kernel_image, reinterpret_cast<const float*>(capture.get()), piece.pair_count, &wav,
                            failure) != 0) {
    return -1;
  }
  const std::span<const std::complex<float>> pairs(capture.get(), piece.pair_count);
  if (!job.pieces_dir.empty() && keep_piece(job.pieces_dir, "", index, pairs, wav, failure) != 0) return -1;
  capture.reset();
  std::span<const std::uint8_t> kept;
  if (kept_piece_samples(piece, wav, &kept, failure) != 0) return -1;
  if (run.streamed == nullptr) {
    std::memcpy(run.joined_samples + 2 * piece.keep_begin, kept.data(), kept.size());
    return 0;
  }
  int delivered = 0;
  run.pool.update([&] { delivered = deliver_in_order(*run.streamed, index, kept, failure); });
  return delivered;
}

// With the pool's lock held: the next piece, until every piece is taken.
NextTask pick_piece(SharedRun& run, unsigned running, PoolTask* task) {
  if (run.next_piece < run.job->pieces.size()) {
    const std::size_t index = run.next_piece++;
    *task = [&run, index](unsigned worker, Failure* failure) {
      if (run_piece(run, worker, index, failure) == 0) return 0;
      name_failed_piece(*run.job, index, failure);
      run.pool.update([&] { run.failures.push_back({index, *failure}); });
      return -1;
    };
    return NextTask::RUN;
  }
  return running == 0 ? NextTask::DONE : NextTask::WAIT;
}

// Dropouts found by overlapping pieces, in order and each once.
std::vector<DropoutSpan> merged_dropouts(std::vector<DropoutSpan> spans) {
  std::sort(spans.begin(), spans.end(),
            [](const DropoutSpan& a, const DropoutSpan& b) { return a.first_pair < b.first_pair; });
  DropoutTimeline timeline;
  for (const DropoutSpan& span : spans) timeline.add_span(span.first_pair, span.end_pair);
  return timeline.spans();
}

}  // namespace

int receive_channel(const ReceiveJob& job, ReceiveProgress* progress, OutputStream* stream,
                    std::vector<std::uint8_t>* wav, Failure* failure) {
  const std::uint64_t total_samples = job.pieces.back().keep_end;
  if (total_samples > CORE_WAV_MAX_SAMPLES) {
    *failure = Failure{"the recording is too long for one WAV file (at most " +
                       std::to_string(CORE_WAV_MAX_SAMPLES / CORE_AUDIO_RATE / 3600) + " hours of audio)"};
    return -1;
  }
  std::vector<std::uint8_t> joined;
  StreamedJoin streamed;
  auto run = std::make_unique<SharedRun>();
  run->job = &job;
  run->progress = progress;
  if (stream != nullptr) {
    streamed.stream = stream;
    streamed.total_samples = total_samples;
    run->streamed = &streamed;
  } else {
    joined.resize(CORE_WAV_HEADER_BYTES + 2 * total_samples);
    run->joined_samples = joined.data() + CORE_WAV_HEADER_BYTES;
  }
  if (job.squelch) run->window_cnr.assign(squelch_window_count(job.front_end.output_pair_count), std::nan(""));
  const unsigned threads = std::clamp<unsigned>(job.threads, 1, static_cast<unsigned>(job.pieces.size()));
  run->readers.resize(threads);
  SharedRun& r = *run;
  const TaskPicker pick = [&r](unsigned running, PoolTask* task) { return pick_piece(r, running, task); };
  if (r.pool.run(threads, pick, failure) != 0) {
    // Pieces fail independently; the earliest in the recording is reported,
    // whichever worker met it first.
    const auto first = std::min_element(r.failures.begin(), r.failures.end(),
                                        [](const PieceFailure& a, const PieceFailure& b) { return a.piece < b.piece; });
    if (first != r.failures.end()) *failure = first->failure;
    if (streamed.failed) failure->kind = FailureKind::OUTPUT;
    return -1;
  }
  if (stream != nullptr) return 0;
  if (job.squelch) {
    mute_closed_windows(*job.squelch, r.window_cnr, std::span<std::uint8_t>(joined).subspan(CORE_WAV_HEADER_BYTES));
    progress->dropouts = merged_dropouts(std::move(r.dropouts));
  }
  write_joined_wav_header(joined.data(), total_samples);
  *wav = std::move(joined);
  return 0;
}

}  // namespace kdsp
