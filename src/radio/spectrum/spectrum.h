// Averaged power spectra of a recording, taken as its pairs stream past in
// blocks of any size: one spectrum over everything seen, for finding
// channels, and optionally one per time slice, for the spectrogram. The
// memory taken depends on the transform size and the slice count, never on
// the recording's length.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "radio/spectrum/dropouts.h"
#include "radio/spectrum/frame_power.h"

namespace kdsp {

// Powers are per bin, scaled so that the bins of one spectrum add up to the
// signal's mean power per pair. Bin 0 is the lowest frequency, -rate/2.
struct CaptureSpectrum {
  std::size_t fft_size = 0;
  double sample_rate = 0.0;
  double bin_hz = 0.0;
  std::vector<double> average_power;  // fft_size bins
  std::uint64_t frame_count = 0;
  // The spectrogram: row_count rows of row_bins bins, time order, each row
  // bin the mean of fft_size / row_bins neighbouring bins.
  std::size_t row_count = 0;
  std::size_t row_bins = 0;
  double seconds_per_row = 0.0;
  std::vector<double> row_power;
  // Frames left out because every pair in them was the same (dropouts.h),
  // and the dropouts of the stretches read (recording pairs).
  std::uint64_t constant_frames = 0;
  std::vector<DropoutSpan> dropouts;
};

// The smallest transform, and the finest bins any rate is given: fine enough
// that two voice channels 12.5 kHz apart stay apart at any rate.
inline constexpr std::size_t SCAN_FFT_SIZE = 2048;
inline constexpr double SCAN_MAX_BIN_HZ = 120.0;
static_assert((SCAN_FFT_SIZE & (SCAN_FFT_SIZE - 1)) == 0, "the transform takes powers of two only");
// Enough frames that an averaged noise bin rarely strays far from the floor.
inline constexpr std::size_t MIN_SCAN_FRAMES = 15;
inline constexpr std::size_t MAX_SPECTROGRAM_ROWS = 600;
inline constexpr std::size_t MAX_SPECTROGRAM_ROW_BINS = 1024;

// The transform size for `sample_rate`: a power of two from SCAN_FFT_SIZE up,
// with bins no wider than SCAN_MAX_BIN_HZ.
std::size_t scan_fft_size(double sample_rate, double max_bin_hz = SCAN_MAX_BIN_HZ);

// Pairs needed for MIN_SCAN_FRAMES half-overlapping frames of `fft_size`.
std::uint64_t min_scan_pairs(std::size_t fft_size);

// Frequency of the centre of bin `bin`, in Hz from the recording's centre.
double bin_offset_hz(const CaptureSpectrum& spectrum, std::size_t bin);

// Hann-windowed, half-overlapping frames, summed as pairs arrive (through
// FramePower, as the squelch meters measure).
struct SpectrumAccumulator {
  CaptureSpectrum spectrum;
  std::uint64_t expected_frames = 0;  // spreads the frames over the rows
  FramePower transform;
  double scale = 0.0;
  std::vector<std::complex<float>> pending;  // the frame being filled
  std::size_t pending_count = 0;
  std::vector<double> frame_power;  // the last frame's, in transform order
  std::vector<double> power;        // the last frame's, lowest frequency first
  std::vector<std::uint64_t> frames_in_row;
  DropoutTimeline dropouts;
};

// Starts a spectrum of `fft_size` bins (a power of two) at `sample_rate`.
// `spectrogram_rows` rows (0: none) share out the frames of `pair_count`
// contiguous pairs. 0, or -1 when the transform could not be made (memory
// ran out).
int start_spectrum(SpectrumAccumulator* accumulator, double sample_rate, std::size_t fft_size, std::uint64_t pair_count,
                   std::size_t spectrogram_rows);

// Adds the next pairs of the stream.
void add_spectrum_pairs(SpectrumAccumulator* accumulator, std::span<const std::complex<float>> pairs);

// Forgets a partly filled frame: the next pairs do not follow the last ones.
void break_spectrum_stream(SpectrumAccumulator* accumulator);

// The averages of every frame added; moves the spectrum out.
CaptureSpectrum finish_spectrum(SpectrumAccumulator* accumulator);

}  // namespace kdsp
