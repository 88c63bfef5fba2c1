// A short spoken-like test signal: voiced syllables with moving pitch and
// formants, separated by pauses, repeated to fill the duration. It exercises
// a voice channel the way speech does (harmonic spectrum, syllabic envelope,
// silences) while being exactly reproducible.
#pragma once

#include <cstdint>
#include <vector>

namespace kdsp {

// `duration_s` seconds at `sample_rate`, peak magnitude at most 1.
std::vector<float> make_speech_like(double duration_s, std::uint32_t sample_rate);

}  // namespace kdsp
