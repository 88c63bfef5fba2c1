// The phase accumulator shared by every oscillator: the FM mixer, the
// shifter, and the companion tools' modulators.
//
// The phase is accumulated, one addition per sample, not recomputed from the
// sample index: the sequence of double operations, and so every bit of the
// signals made with it, is fixed by this file.
#pragma once

#include <cmath>
#include <cstdint>

#include "base/numbers.h"

namespace kdsp {

// Oscillators carry an accumulated phase and reduce it with the IEEE remainder
// against 2*pi after every this many samples, so it never grows large enough
// to lose precision, while staying cheap (one remainder per 4096 samples).
inline constexpr std::uint64_t PHASE_WRAP_INTERVAL = 4096;

// Oscillator values made per stretch: the sincos calls run in a loop of their
// own, and the products that use the values in a loop free of calls.
inline constexpr std::uint64_t OSCILLATOR_STRETCH = 256;

// The phase of sample `index`. Sample 0 has the start phase; each next phase
// is the previous one plus the step, and after every sample whose index is
// PHASE_WRAP_INTERVAL - 1 modulo PHASE_WRAP_INTERVAL the sum is replaced by
// remainder(sum, 2 pi) (exact, so it changes no angle).
struct PhaseAccumulator {
  double phase;  // radians
  std::uint64_t index;
};

inline PhaseAccumulator start_phase(double phase) { return PhaseAccumulator{phase, 0}; }

// Moves on to the next sample's phase, `step` radians further.
[[gnu::always_inline]] inline void advance_phase(PhaseAccumulator& accumulator, double step) {
  accumulator.phase = accumulator.phase + step;
  if (accumulator.index % PHASE_WRAP_INTERVAL == PHASE_WRAP_INTERVAL - 1) {
    accumulator.phase = std::remainder(accumulator.phase, TWO_PI);
  }
  ++accumulator.index;
}

// Sine and cosine of the phases of the next `count` samples, a constant
// `step` apart, into sines[0 .. count-1] and cosines[0 .. count-1]; the
// accumulator moves past them.
[[gnu::always_inline]] inline void oscillator_values(PhaseAccumulator& accumulator, double step, std::uint64_t count,
                                                     double* sines, double* cosines) {
  PhaseAccumulator running = accumulator;  // a local, so it stays in registers across the calls
  for (std::uint64_t t = 0; t < count; ++t) {
    ::sincos(running.phase, &sines[t], &cosines[t]);
    advance_phase(running, step);
  }
  accumulator = running;
}

}  // namespace kdsp
