// Measuring tones in test signals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kdsp {

// Amplitude of the sinusoid at `frequency_hz` in samples[begin, end) taken at
// `sample_rate`, by correlation with a sine and a cosine.
double tone_amplitude(const std::vector<double>& samples, double sample_rate, double frequency_hz, std::size_t begin,
                      std::size_t end);

// The 16-bit samples of a WAV image (after its 44-byte header), scaled to +-1.
std::vector<double> wav_samples(const std::vector<std::uint8_t>& image);

}  // namespace kdsp
