// One channel's capture cut into transmissions, for kdsp-rx --all: the
// squelch gate opens a transmission, the hang time closes it, one shorter
// than the minimum is dropped, and each kept one becomes a capture from a
// short pre-roll before its start to a post-roll after its end, cut into
// pieces the core accepts. Pieces of a transmission longer than a piece are
// handed on while it is still open, so that memory stays bounded.
#pragma once

#include <complex>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "radio/base/failure.h"
#include "radio/chain/squelch_gate.h"
#include "radio/kernel/piece_plan.h"

namespace kdsp {

inline constexpr double DEFAULT_HANG_S = 1.0;
inline constexpr double MIN_TRANSMISSION_S = 0.5;
inline constexpr double TRANSMISSION_ROLL_S = 0.2;  // before the start and after the end

struct TrackerSettings {
  double threshold_db = 0.0;
  double hang_s = DEFAULT_HANG_S;
  double min_s = MIN_TRANSMISSION_S;
  double max_s = 0.0;  // a transmission is cut here (a stuck carrier); 0: never
  double roll_s = TRANSMISSION_ROLL_S;
};

// A piece of a transmission's capture, ready for the core.
struct PieceWork {
  std::uint64_t transmission = 0;
  std::size_t channel = 0;
  std::size_t piece = 0;
  std::vector<std::complex<float>> capture;
};

// A transmission once it has closed; positions count capture pairs from the
// recording's start.
struct ClosedTransmission {
  std::uint64_t transmission = 0;
  std::size_t channel = 0;
  std::uint64_t start_pair = 0;  // where the gate opened
  std::uint64_t end_pair = 0;    // the end of the last window above the closing level
  std::uint64_t capture_first = 0;
  std::uint64_t capture_pairs = 0;
  double level_db = 0.0;
  bool cut = false;  // ended by the longest length allowed, not by the squelch
  std::vector<Piece> pieces;
};

struct TrackerOutput {
  // A new transmission's number, for one opening at `start_pair`.
  std::function<std::uint64_t(std::size_t channel, std::uint64_t start_pair)> next_transmission;
  std::function<int(PieceWork&&)> piece;            // 0, or -1 to stop
  std::function<int(ClosedTransmission&&)> closed;  // after its last piece
  // A transmission dropped for being shorter than the shortest kept (no
  // piece of it was handed on); may be empty.
  std::function<void(const ClosedTransmission&)> too_short;
  // True when any of capture pairs [first, end) comes from a dropout of the
  // recording (no signal, no noise): such a window opens nothing. May be
  // empty.
  std::function<bool(std::uint64_t first_pair, std::uint64_t end_pair)> in_dropout;
};

class TransmissionTracker {
 public:
  // Watches channel `channel`, read in `bands`, handing on to `output`. 0,
  // or -1 with `*error` set when its meter could not be made.
  int start(std::size_t channel, const CnrBands& bands, const TrackerSettings& settings, const TrackerOutput* output,
            Failure* failure);
  // The channel's next pairs, in order. 0, or -1 when an output stopped.
  int feed(const std::complex<float>* pairs, std::size_t count);
  // The channel's capture has ended: closes what is open. 0 or -1.
  int finish();
  // Whether a transmission is open, since which capture pair, and its mean
  // level so far: what a neighbouring channel's transmission is compared
  // with.
  bool is_open() const { return open_; }
  std::uint64_t open_since_pair() const;
  double open_level_db() const;

 private:
  int step_window(std::uint64_t window);
  int send_full_pieces();
  int close(std::uint64_t capture_end, bool cut);
  void trim_idle();
  // Where the last loud window ends (the capture's end when that window
  // was the last whole one).
  std::uint64_t loud_end() const;
  const std::complex<float>* at(std::uint64_t pair) const { return buffer_.data() + (pair - buffer_first_); }

  std::size_t channel_ = 0;
  TrackerSettings settings_;
  const TrackerOutput* output_ = nullptr;
  CnrMeter meter_;
  SquelchGate gate_;
  std::vector<std::complex<float>> buffer_;
  std::uint64_t buffer_first_ = 0;  // the pair buffer_[0] holds
  std::uint64_t received_ = 0;
  std::uint64_t next_window_ = 0;
  bool open_ = false;
  std::uint64_t transmission_ = 0;
  std::uint64_t capture_first_ = 0;
  std::size_t pieces_sent_ = 0;
  bool loud_to_end_ = false;
};

}  // namespace kdsp
