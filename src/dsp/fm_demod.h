// FM demodulation chain.
//
// From a capture of complex baseband at 240 000 pairs per second, picks the
// FM channel `offset_hz` away from the centre and returns 48 kHz voice-band
// audio in which a deviation of 5 kHz reads as 1.0. Stages, in order:
//   1. mixer: multiply by e^(-i 2 pi offset_hz t), the channel moves to 0 Hz;
//   2. channel filter (163 taps, 13.5 kHz) evaluated at every fifth pair only;
//   3. discriminator: phase step between consecutive baseband samples;
//   4. DC removal: the mean of the audio is subtracted;
//   5. voice_band_filter, in place.
// The stages are also declared here, one function each, so that tests (and a
// later optimised version) can look at and compare every intermediate result.
#pragma once

#include <cstdint>

#include "dsp/audio_buffer.h"

inline constexpr std::uint64_t FM_MIN_PAIR_COUNT = 5;  // one output sample
// Keeps the mixed array's byte size (8 bytes per pair) within 64 bits.
inline constexpr std::uint64_t FM_MAX_PAIR_COUNT = (std::uint64_t{1} << 61) - 1;
// 48 000 / (2 pi * 5 000): a phase step of one 5 kHz deviation reads as 1.0.
inline constexpr double FM_DISCRIMINATOR_SCALE = 1.5278874536821951;

// Demodulates the whole capture.
//   iq_samples : interleaved float I/Q values, pair_count pairs, read only
//   pair_count : N, 5 .. 2^61 - 1
//   offset_hz  : channel frequency relative to the capture centre, -100000 .. 100000
//   result     : receives a new AudioBuffer of floor(N / 5) samples at 48 kHz
// Returns 0, or -1 with *result untouched and nothing left allocated.
int fm_demodulate(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz,
                  AudioBuffer** result);

// Stage 1. Writes mixed[0 .. 2*pair_count-1] (float I/Q pairs): pair n times
// e^(i phi_n), phi_n the phase accumulated by n additions of the step
// -2 pi offset_hz / 240000, reduced by remainder(., 2 pi) after every 4096 pairs.
void fm_mix_down(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz,
                 float* mixed);

// Stage 2. For k = 0 .. pair_count/5 - 1: baseband[k] = sum of the taps times
// the mixed pairs 5k-81 .. 5k+81 that exist (positions outside 0 .. N-1 are
// skipped, not taken as zero). `taps` as from design_channel_filter.
void fm_channel_decimate(const float* mixed, std::uint64_t pair_count, const double* taps,
                         Complex* baseband);

// Stage 3. audio[0] = 0; audio[m] = phase of baseband[m] * conj(baseband[m-1])
// times FM_DISCRIMINATOR_SCALE, narrowed to float, for m = 1 .. count-1.
void fm_discriminate(const Complex* baseband, std::uint64_t count, float* audio);

// Stage 4. Subtracts the float mean (accumulated in double) from every sample.
void fm_remove_dc(float* audio, std::uint64_t count);
