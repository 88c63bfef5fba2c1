#include "radio/traffic/transmission_tracker.h"

#include <algorithm>
#include <cmath>

#include "radio/kernel/core_run.h"

namespace kdsp {

namespace {

std::uint64_t pairs_of(double seconds) { return static_cast<std::uint64_t>(std::llround(seconds * CORE_PAIR_RATE)); }

std::uint64_t whole_samples(std::uint64_t pairs) { return pairs / CORE_PAIRS_PER_SAMPLE * CORE_PAIRS_PER_SAMPLE; }

// Where the second piece of a long capture starts: pieces handed on before
// the capture's length is known start where plan_pieces puts them.
std::uint64_t piece_step() {
  return plan_pieces(2 * CORE_MAX_PAIRS, 1, CORE_MAX_PAIRS, CORE_PAIRS_PER_SAMPLE)[1].first_pair;
}

}  // namespace

int TransmissionTracker::start(std::size_t channel, const CnrBands& bands, const TrackerSettings& settings,
                               const TrackerOutput* output, Failure* failure) {
  if (meter_.make(bands) != 0) {
    *failure = Failure{"out of memory"};
    return -1;
  }
  channel_ = channel;
  settings_ = settings;
  output_ = output;
  gate_ = make_squelch_gate(settings.threshold_db, settings.hang_s);
  return 0;
}

int TransmissionTracker::feed(const std::complex<float>* pairs, std::size_t count) {
  buffer_.insert(buffer_.end(), pairs, pairs + count);
  received_ += count;
  while ((next_window_ + 1) * CNR_WINDOW_PAIRS <= received_) {
    if (step_window(next_window_++) != 0) return -1;
  }
  if (open_) return send_full_pieces();
  trim_idle();
  return 0;
}

int TransmissionTracker::finish() {
  if (!open_) return 0;
  // Loud to the last whole window: loud to the end.
  loud_to_end_ = gate_.last_loud + 1 == next_window_;
  return close(std::min(received_, loud_end() + pairs_of(settings_.roll_s)), false);
}

std::uint64_t TransmissionTracker::open_since_pair() const { return gate_.opened_at * CNR_WINDOW_PAIRS; }

double TransmissionTracker::open_level_db() const { return gate_open_level_db(gate_); }

int TransmissionTracker::step_window(std::uint64_t window) {
  const std::uint64_t first = window * CNR_WINDOW_PAIRS;
  const bool dropout = output_->in_dropout && output_->in_dropout(first, first + CNR_WINDOW_PAIRS);
  const GateEvent event = step_squelch_gate(&gate_, dropout ? CNR_FLOOR_DB : meter_.measure(at(first)));
  if (event == GateEvent::OPENED) {
    open_ = true;
    transmission_ = output_->next_transmission(channel_, first);
    const std::uint64_t roll = pairs_of(settings_.roll_s);
    capture_first_ = first > roll ? whole_samples(first - roll) : 0;
    pieces_sent_ = 0;
  } else if (event == GateEvent::CLOSED) {
    return close(std::min(received_, loud_end() + pairs_of(settings_.roll_s)), false);
  } else if (open_ && settings_.max_s > 0.0 &&
             (window + 1 - gate_.opened_at) * CNR_WINDOW_PAIRS >= pairs_of(settings_.max_s)) {
    // A carrier that never drops: cut here, and the gate opens again at the
    // next loud window, as a new transmission.
    gate_.open = false;
    gate_.last_loud = window;
    return close(std::min(received_, (window + 1) * CNR_WINDOW_PAIRS), true);
  }
  return 0;
}

int TransmissionTracker::send_full_pieces() {
  static const std::uint64_t STEP = piece_step();
  while (capture_first_ + pieces_sent_ * STEP + CORE_MAX_PAIRS <= received_) {
    const std::uint64_t first = capture_first_ + pieces_sent_ * STEP;
    PieceWork work{transmission_, channel_, pieces_sent_, {at(first), at(first) + CORE_MAX_PAIRS}};
    if (output_->piece(std::move(work)) != 0) return -1;
    ++pieces_sent_;
    const std::uint64_t keep_from = capture_first_ + pieces_sent_ * STEP;
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(keep_from - buffer_first_));
    buffer_first_ = keep_from;
  }
  return 0;
}

int TransmissionTracker::close(std::uint64_t capture_end, bool cut) {
  open_ = false;
  ClosedTransmission done;
  done.transmission = transmission_;
  done.channel = channel_;
  done.start_pair = gate_.opened_at * CNR_WINDOW_PAIRS;
  done.end_pair = std::min(received_, loud_end());
  done.level_db = gate_open_level_db(gate_);
  done.cut = cut;
  if (done.end_pair - done.start_pair < pairs_of(settings_.min_s)) {
    if (output_->too_short) output_->too_short(done);
    trim_idle();
    return 0;
  }
  done.capture_first = capture_first_;
  done.capture_pairs = whole_samples(capture_end - capture_first_);
  done.pieces = plan_pieces(done.capture_pairs, 1, CORE_MAX_PAIRS, CORE_PAIRS_PER_SAMPLE);
  for (std::size_t k = pieces_sent_; k < done.pieces.size(); ++k) {
    const std::uint64_t first = capture_first_ + done.pieces[k].first_pair;
    PieceWork work{transmission_, channel_, k, {at(first), at(first) + done.pieces[k].pair_count}};
    if (output_->piece(std::move(work)) != 0) return -1;
  }
  trim_idle();
  return output_->closed(std::move(done));
}

std::uint64_t TransmissionTracker::loud_end() const {
  return loud_to_end_ ? received_ : (gate_.last_loud + 1) * CNR_WINDOW_PAIRS;
}

void TransmissionTracker::trim_idle() {
  // Enough for the pre-roll of a transmission opening at the next window.
  const std::uint64_t next = next_window_ * CNR_WINDOW_PAIRS;
  const std::uint64_t roll = pairs_of(settings_.roll_s) + CORE_PAIRS_PER_SAMPLE;
  const std::uint64_t keep_from = std::max(buffer_first_, next > roll ? next - roll : 0);
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(keep_from - buffer_first_));
  buffer_first_ = keep_from;
}

}  // namespace kdsp
