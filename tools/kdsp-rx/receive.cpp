#include "kdsp-rx/receive.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "common/capture_file.h"
#include "kdsp-rx/core_run.h"

namespace kdsp {

namespace {

struct PieceFailure {
  std::size_t piece = 0;
  std::string message;
};

// The joined audio delivered in recording order as pieces finish: the header
// with piece 1, then each piece's kept samples once those before it are out.
// A piece that finishes early waits here, holding only its kept samples.
struct StreamedJoin {
  OutputStream* stream = nullptr;
  std::uint64_t total_samples = 0;
  std::mutex lock;
  std::size_t next_piece = 0;
  std::map<std::size_t, std::vector<std::uint8_t>> waiting;
  bool failed = false;
};

// What the workers share: the next piece to take, where the joined audio
// goes, and the earliest failure.
struct SharedRun {
  const ReceiveJob* job = nullptr;
  ReceiveProgress* progress = nullptr;
  std::uint8_t* joined_samples = nullptr;  // in memory: 16-bit little-endian samples after the header
  StreamedJoin* streamed = nullptr;        // else streamed
  std::atomic<std::size_t> next_piece{0};
  std::atomic<bool> failed{false};
  std::mutex failure_lock;
  std::vector<PieceFailure> failures;
  std::mutex header_lock;
  std::vector<std::uint8_t> first_header;
  std::vector<double> window_cnr;  // with --squelch: each piece fills its own windows
};

// Measures the squelch windows of a piece, on its capture or, behind a
// channel filter, on the capture converted without the filter.
int measure_squelch(SharedRun& run, RecordingReader& reader, const Piece& piece, const std::complex<float>* capture,
                    std::string* cause) {
  const SquelchPlan& squelch = *run.job->squelch;
  if (!squelch.measure_unfiltered) {
    measure_piece_windows(squelch, piece, capture, &run.window_cnr);
    return 0;
  }
  std::vector<std::complex<float>> unfiltered(piece.pair_count);
  if (convert_span(squelch.unfiltered, reader, piece.first_pair, piece.pair_count, unfiltered.data(), cause) != 0) {
    return -1;
  }
  measure_piece_windows(squelch, piece, unfiltered.data(), &run.window_cnr);
  return 0;
}

std::string seconds_text(std::uint64_t pairs) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(pairs) / CORE_PAIR_RATE);
  return text;
}

void record_failure(SharedRun& run, std::size_t index, const std::string& cause) {
  const Piece& piece = run.job->pieces[index];
  std::string message = cause;
  if (run.job->pieces.size() > 1) {
    message = "piece " + std::to_string(index + 1) + " of " + std::to_string(run.job->pieces.size()) + " (" +
              seconds_text(piece.first_pair) + " to " + seconds_text(piece.first_pair + piece.pair_count) +
              "): " + cause;
  }
  const std::lock_guard<std::mutex> hold(run.failure_lock);
  run.failures.push_back({index, message});
  run.failed = true;
}

// Writes a piece's capture and WAV beside each other in the pieces folder.
int keep_piece(const std::string& dir, std::size_t index, const std::complex<float>* capture, std::uint64_t pair_count,
               const std::vector<std::uint8_t>& wav, std::string* cause) {
  char name[32];
  std::snprintf(name, sizeof name, "/piece-%03zu", index + 1);
  std::vector<std::uint8_t> bytes(8 * pair_count);
  encode_float32_le(std::span<const float>(reinterpret_cast<const float*>(capture), 2 * pair_count), bytes.data());
  if (write_output_file((dir + name + ".iq").c_str(), bytes) != 0 ||
      write_output_file((dir + name + ".wav").c_str(), wav) != 0) {
    *cause = "the piece could not be written to '" + dir + "'";
    return -1;
  }
  return 0;
}

// Appends what may go out now: piece `index`'s kept samples (after the
// header when it is the first piece) if every piece before it is out, then
// any waiting pieces that follow it; else keeps a copy for later.
int deliver_in_order(StreamedJoin& join, std::size_t index, const std::vector<std::uint8_t>& wav,
                     std::span<const std::uint8_t> kept, std::string* cause) {
  const std::lock_guard<std::mutex> hold(join.lock);
  if (join.failed) return -1;
  if (index != join.next_piece) {
    join.waiting.emplace(index, std::vector<std::uint8_t>(kept.begin(), kept.end()));
    return 0;
  }
  bool written = true;
  if (index == 0) {
    std::vector<std::uint8_t> header(wav.begin(), wav.begin() + static_cast<std::ptrdiff_t>(CORE_WAV_HEADER_BYTES));
    set_wav_sample_count(header.data(), join.total_samples);
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
    *cause = "the WAV could not be written";
    return -1;
  }
  return 0;
}

// Converts one piece, runs the core on it, and hands its kept audio to the
// join. 0, or -1 with `*cause` set.
int run_piece(SharedRun& run, RecordingReader& reader, std::size_t index, std::string* cause) {
  const ReceiveJob& job = *run.job;
  const Piece& piece = job.pieces[index];
  std::unique_ptr<std::complex<float>[]> capture(new (std::nothrow) std::complex<float>[piece.pair_count]);
  if (!capture) {
    *cause = "out of memory";
    return -1;
  }
  if (convert_span(job.front_end, reader, piece.first_pair, piece.pair_count, capture.get(), cause) != 0) return -1;
  if (job.squelch && measure_squelch(run, reader, piece, capture.get(), cause) != 0) return -1;
  run.progress->pairs_done += piece.pair_count;
  std::vector<std::uint8_t> wav;
  if (run_kernel_on_capture(job.kernel_image, reinterpret_cast<const float*>(capture.get()), piece.pair_count, &wav,
                            cause) != 0) {
    return -1;
  }
  if (!job.pieces_dir.empty() && keep_piece(job.pieces_dir, index, capture.get(), piece.pair_count, wav, cause) != 0) {
    return -1;
  }
  capture.reset();
  if (check_emitted_samples(wav, piece.pair_count / CORE_PAIRS_PER_SAMPLE, cause) != 0) return -1;
  const std::uint64_t local_begin = piece.keep_begin - piece.first_pair / CORE_PAIRS_PER_SAMPLE;
  const std::span<const std::uint8_t> kept(wav.data() + CORE_WAV_HEADER_BYTES + 2 * local_begin,
                                           2 * (piece.keep_end - piece.keep_begin));
  if (run.streamed != nullptr) return deliver_in_order(*run.streamed, index, wav, kept, cause);
  std::memcpy(run.joined_samples + 2 * piece.keep_begin, kept.data(), kept.size());
  if (index == 0) {
    const std::lock_guard<std::mutex> hold(run.header_lock);
    run.first_header.assign(wav.begin(), wav.begin() + static_cast<std::ptrdiff_t>(CORE_WAV_HEADER_BYTES));
  }
  return 0;
}

void work(SharedRun& run) {
  RecordingReader reader;
  std::string cause;
  if (open_recording_reader(*run.job->recording, &reader, &cause) != 0) {
    record_failure(run, 0, cause);
    return;
  }
  while (!run.failed) {
    const std::size_t index = run.next_piece++;
    if (index >= run.job->pieces.size()) return;
    try {
      if (run_piece(run, reader, index, &cause) != 0) record_failure(run, index, cause);
    } catch (const std::bad_alloc&) {
      record_failure(run, index, "out of memory");
    }
  }
}

}  // namespace

int receive_channel(const ReceiveJob& job, ReceiveProgress* progress, OutputStream* stream,
                    std::vector<std::uint8_t>* wav, std::string* error) {
  const std::uint64_t total_samples = job.pieces.back().keep_end;
  if (total_samples > CORE_WAV_MAX_SAMPLES) {
    *error = "the recording is too long for one WAV file (at most " +
             std::to_string(CORE_WAV_MAX_SAMPLES / CORE_AUDIO_RATE / 3600) + " hours of audio)";
    return -1;
  }
  std::vector<std::uint8_t> joined;
  StreamedJoin streamed;
  SharedRun run;
  run.job = &job;
  run.progress = progress;
  if (stream != nullptr) {
    streamed.stream = stream;
    streamed.total_samples = total_samples;
    run.streamed = &streamed;
  } else {
    joined.resize(CORE_WAV_HEADER_BYTES + 2 * total_samples);
    run.joined_samples = joined.data() + CORE_WAV_HEADER_BYTES;
  }
  if (job.squelch) run.window_cnr.assign(squelch_window_count(job.front_end.output_pair_count), std::nan(""));
  const unsigned threads = std::clamp<unsigned>(job.threads, 1, static_cast<unsigned>(job.pieces.size()));
  std::vector<std::thread> workers;
  for (unsigned t = 1; t < threads; ++t) workers.emplace_back(work, std::ref(run));
  work(run);
  for (std::thread& worker : workers) worker.join();
  if (!run.failures.empty()) {
    // Pieces fail independently; the earliest in the recording is reported,
    // whichever thread met it first.
    const auto first = std::min_element(run.failures.begin(), run.failures.end(),
                                        [](const PieceFailure& a, const PieceFailure& b) { return a.piece < b.piece; });
    *error = first->message;
    return streamed.failed ? RECEIVE_OUTPUT_FAILED : -1;
  }
  if (stream != nullptr) return 0;
  if (job.squelch) {
    mute_closed_windows(*job.squelch, run.window_cnr, std::span<std::uint8_t>(joined).subspan(CORE_WAV_HEADER_BYTES));
  }
  std::copy(run.first_header.begin(), run.first_header.end(), joined.begin());
  set_wav_sample_count(joined.data(), total_samples);
  *wav = std::move(joined);
  return 0;
}

}  // namespace kdsp
