// Keyed transmissions as a receiver hands them to the tone decoder, made by
// the tests: a clip of real speech (codec2-examples) sharing the deviation
// with a sub-audible tone from the tone generator, FM-modulated (the one FM
// modulator, chain/fm_modulator) at IQ_SAMPLE_RATE at an offset, with a
// stretch of the empty channel either side if asked, in noise at a
// carrier-to-noise ratio stated for noise in CNR_BANDWIDTH_HZ.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "radio/tones/tone_decoder.h"
#include "radio/tones/tone_generator.h"
#include "tools/recording_synth.h"

namespace kdsp {

inline constexpr double TRANSMISSION_AMPLITUDE = 0.5;

struct TransmissionPlan {
  Tone tone;  // NONE: the speech alone, at the whole deviation
  double level = TYPICAL_TONE_LEVEL;
  const ModulatingAudio* speech = nullptr;  // none: the tone alone
  double speech_start_s = 0.0;
  double offset_hz = 0.0;
  double deviation_hz = 5000.0;
  double duration_s = 1.0;   // keyed
  double roll_s = 0.0;       // the empty channel before and after
  double clock_error = 0.0;  // how much faster than nominal the tone runs
};

// The clean capture: the carrier, amplitude TRANSMISSION_AMPLITUDE, while
// keyed, nothing in the rolls. DCS ends with its turn-off code.
std::vector<std::complex<float>> modulate_transmission(const TransmissionPlan& plan);

// Complex Gaussian noise of power 1, made once and read from any place on:
// a transmission takes a stretch of it, so that noise costs nothing per
// transmission.
inline constexpr std::size_t NOISE_TABLE_PAIRS = std::size_t{1} << 21;
struct NoiseTable {
  std::vector<std::complex<float>> samples;
};
NoiseTable make_noise_table(std::uint64_t seed);

// `clean` with noise from `table` (from `first` on, wrapping) at `cnr_db`
// for a carrier of TRANSMISSION_AMPLITUDE.
std::vector<std::complex<float>> add_noise(const std::vector<std::complex<float>>& clean, double cnr_db,
                                           const NoiseTable& table, std::size_t first);

// The tone the decoder reads from a capture fed in blocks of `block_pairs`.
ToneReading decode_capture(const std::vector<std::complex<float>>& capture, double offset_hz,
                           std::size_t block_pairs = 65536);

// The same as decode_capture(add_noise(...)), made a block at a time.
ToneReading decode_in_noise(const std::vector<std::complex<float>>& clean, double offset_hz, double cnr_db,
                            const NoiseTable& table, std::size_t first);

// Whether a reading names the signal that `sent` puts on the air: an
// inverted DCS code is read by its normal alias.
bool reads_as(const ToneReading& reading, const Tone& sent);

}  // namespace kdsp
