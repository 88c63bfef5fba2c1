// Averaged power spectra of a capture: one over the whole capture for finding
// channels, and one per time slice for the spectrogram.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "formats/iq_capture.h"

namespace kdsp {

// Powers are per bin, scaled so that the bins of one spectrum add up to the
// signal's mean power per pair. Bin 0 is the lowest frequency, -IQ_SAMPLE_RATE/2.
struct CaptureSpectrum {
  std::size_t fft_size = 0;
  double bin_hz = 0.0;
  std::vector<double> average_power;  // fft_size bins
  std::size_t row_count = 0;
  double seconds_per_row = 0.0;
  std::vector<double> row_power;  // row_count rows of fft_size bins, time order
};

inline constexpr std::size_t SCAN_FFT_SIZE = 2048;
static_assert((SCAN_FFT_SIZE & (SCAN_FFT_SIZE - 1)) == 0, "the transform takes powers of two only");
// Enough frames that an averaged noise bin rarely strays far from the floor.
inline constexpr std::size_t MIN_SCAN_PAIRS = 8 * SCAN_FFT_SIZE;
inline constexpr std::size_t MAX_SPECTROGRAM_ROWS = 600;

// Frequency of the centre of bin `bin`, in Hz from the capture's centre.
double bin_offset_hz(const CaptureSpectrum& spectrum, std::size_t bin);

// Hann-windowed spectra, half-overlapping frames. `iq_values` holds
// interleaved I, Q values taken at `sample_rate` pairs per second, at least
// 8 * fft_size pairs; `fft_size` is a power of two (a recording at a higher
// rate takes a larger one for the same resolution).
CaptureSpectrum analyse_capture(std::span<const float> iq_values, double sample_rate = IQ_SAMPLE_RATE,
                                std::size_t fft_size = SCAN_FFT_SIZE);

}  // namespace kdsp
