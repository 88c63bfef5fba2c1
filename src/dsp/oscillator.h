// The phase accumulator shared by every oscillator of the signal path.
#pragma once

#include <cstdint>

namespace kdsp {

// Oscillators carry an accumulated phase and reduce it with the IEEE remainder
// against 2*pi after every this many samples, so it never grows large enough
// to lose precision, while staying cheap (one remainder per 4096 samples).
inline constexpr std::uint64_t PHASE_WRAP_INTERVAL = 4096;

}  // namespace kdsp
