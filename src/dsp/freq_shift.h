// Audio frequency shifter.
//
// Moves every component of a 48 kHz signal down by shift_hz (0 .. 10000) by
// single-sideband modulation: the analytic signal is formed with one
// zero-padded FFT, multiplied by an oscillator at -shift_hz, and its real
// part, passed through voice_band_filter, is the result. A component at f Hz
// comes out at f - shift_hz, one below shift_hz mirrored at shift_hz - f.
// The two middle stages are declared in dsp/detail.h, where the tests reach
// them to hold each to its straightforward form.
#pragma once

#include <cstdint>

#include "formats/audio_buffer.h"

namespace kdsp {

inline constexpr std::uint32_t FSHIFT_MAX_HZ = 10000;

// Shifts `in` down by `shift_hz` into a new buffer of the same length.
//   in       : source buffer, read only; sample_rate 48000, count >= 1
//   shift_hz : downward shift in Hz, 0 .. 10000
//   out      : receives the new AudioBuffer
// Returns 0, or -1 with *out and the input untouched and nothing left allocated.
int frequency_shift(const AudioBuffer* in, std::uint32_t shift_hz, AudioBuffer** out);

}  // namespace kdsp
