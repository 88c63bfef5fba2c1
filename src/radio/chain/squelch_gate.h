// How far a channel stands above the noise, window by window, and the gate
// that opens on it: the carrier-to-noise ratio is measured on the I/Q of a
// capture at the core's rate, in windows of about 50 ms, as the power in the
// channel's band over the noise that a robust low quantile of the bins in a
// wider reference band shows; the gate opens at a threshold, and closes once
// the ratio has stayed below the threshold less a hysteresis for a hang time.
// kdsp-rx mutes the audio where the gate is closed (--squelch), and
// kdsp-rx --all cuts a channel into transmissions with it.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>
#include "radio/io/channel_width.h"

namespace kdsp {

inline constexpr std::size_t CNR_FRAME_PAIRS = 1024;
inline constexpr std::size_t CNR_FRAMES_PER_WINDOW = 12;
inline constexpr std::size_t CNR_WINDOW_PAIRS = CNR_FRAME_PAIRS * CNR_FRAMES_PER_WINDOW;
// What a window with nothing above the noise measures.
inline constexpr double CNR_FLOOR_DB = -99.0;
inline constexpr double SQUELCH_HYSTERESIS_DB = 3.0;

// Where, in a capture at the core's rate, the channel lies and where the
// noise can be read: the reference band must be flat (inside the front
// end's passband); the channel's own band is left out of it.
struct CnrBands {
  double channel_offset_hz = 0.0;
  double channel_half_width_hz = CHANNEL_HALF_WIDTH_HZ;
  double reference_low_hz = -100000.0;
  double reference_high_hz = 100000.0;
};

struct CnrMeterState;
struct CnrMeterStateRelease {
  void operator()(CnrMeterState* state) const;
};

// Measures windows of one channel; each meter has its own transform and
// buffers, so meters run side by side.
class CnrMeter {
 public:
  // Prepares the meter for `bands`. 0, or -1 when its transform could not be
  // made (memory ran out).
  int make(const CnrBands& bands);
  // The ratio in dB over the noise in CNR_BANDWIDTH_HZ of the
  // CNR_WINDOW_PAIRS pairs at `window`; CNR_FLOOR_DB when the channel holds
  // no more than the noise.
  double measure(const std::complex<float>* window);

 private:
  std::unique_ptr<CnrMeterState, CnrMeterStateRelease> state_;
};

struct SquelchGate {
  double open_db = 0.0;
  double close_db = 0.0;
  std::uint64_t hang_windows = 0;
  bool open = false;
  std::uint64_t windows = 0;      // windows seen
  std::uint64_t opened_at = 0;    // window the gate last opened at
  std::uint64_t last_loud = 0;    // last window at or above close_db while open
  std::uint64_t quiet_count = 0;  // windows below close_db since then
  double open_power_sum = 0.0;    // linear ratios of the windows since opening
  std::uint64_t open_power_count = 0;
};

enum class GateEvent { NONE, OPENED, CLOSED };

SquelchGate make_squelch_gate(double threshold_db, double hang_s);

// Feeds the next window's ratio. CLOSED once the hang time has passed since
// the last loud window: the opening ran from window opened_at to last_loud.
GateEvent step_squelch_gate(SquelchGate* gate, double cnr_db);

// The mean ratio from opening to the last loud window, in dB.
double gate_open_level_db(const SquelchGate& gate);

}  // namespace kdsp
