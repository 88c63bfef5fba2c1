#include "radio/spectrum/spectrum.h"

#include <algorithm>
#include <cmath>

namespace kdsp {

namespace {

// The frame's bin powers, lowest frequency first, from those in transform
// order.
void shifted_powers(std::span<const double> transform_order, double scale, double* power) {
  const std::size_t half = transform_order.size() / 2;
  for (std::size_t k = 0; k < half; ++k) {
    power[k + half] = transform_order[k] * scale;
    power[k] = transform_order[k + half] * scale;
  }
}

// Adds `power` to `sum` of `sum_bins` bins, each taking power.size() / sum_bins
// neighbouring bins.
void accumulate(std::span<const double> power, double* sum, std::size_t sum_bins) {
  const std::size_t group = power.size() / sum_bins;
  for (std::size_t i = 0; i < sum_bins; ++i) {
    double total = 0.0;
    for (std::size_t k = 0; k < group; ++k) total += power[i * group + k];
    sum[i] += total;
  }
}

void transform_frame(SpectrumAccumulator* accumulator) {
  CaptureSpectrum& spectrum = accumulator->spectrum;
  const std::size_t size = spectrum.fft_size;
  // A frame of one repeated pair holds no signal and no noise: a dropout,
  // which would otherwise put a floor of rounding residue under everything.
  if (pairs_are_constant(accumulator->pending)) {
    ++spectrum.constant_frames;
    return;
  }
  std::fill(accumulator->frame_power.begin(), accumulator->frame_power.end(), 0.0);
  accumulator->transform.add(accumulator->pending.data(), accumulator->frame_power.data());
  shifted_powers(accumulator->frame_power, accumulator->scale, accumulator->power.data());
  accumulate(accumulator->power, spectrum.average_power.data(), size);
  if (spectrum.row_count > 0) {
    // Frames past the expected count (none for a contiguous stream) join the last row.
    const std::uint64_t row =
        std::min<std::uint64_t>((spectrum.frame_count + spectrum.constant_frames) * spectrum.row_count /
                                    std::max<std::uint64_t>(accumulator->expected_frames, 1),
                                spectrum.row_count - 1);
    accumulate(accumulator->power, spectrum.row_power.data() + row * spectrum.row_bins, spectrum.row_bins);
    ++accumulator->frames_in_row[row];
  }
  ++spectrum.frame_count;
}

}  // namespace

std::size_t scan_fft_size(double sample_rate, double max_bin_hz) {
  std::size_t size = SCAN_FFT_SIZE;
  while (sample_rate / static_cast<double>(size) > max_bin_hz) size *= 2;
  return size;
}

std::uint64_t min_scan_pairs(std::size_t fft_size) { return (MIN_SCAN_FRAMES + 1) * (fft_size / 2); }

double bin_offset_hz(const CaptureSpectrum& spectrum, std::size_t bin) {
  const std::size_t centre_bin = spectrum.fft_size / 2;  // the size is even
  return (static_cast<double>(bin) - static_cast<double>(centre_bin)) * spectrum.bin_hz;
}

int start_spectrum(SpectrumAccumulator* accumulator, double sample_rate, std::size_t fft_size, std::uint64_t pair_count,
                   std::size_t spectrogram_rows) {
  const std::size_t hop = fft_size / 2;
  *accumulator = SpectrumAccumulator{};
  CaptureSpectrum& spectrum = accumulator->spectrum;
  spectrum.fft_size = fft_size;
  spectrum.sample_rate = sample_rate;
  spectrum.bin_hz = sample_rate / static_cast<double>(fft_size);
  spectrum.average_power.assign(fft_size, 0.0);
  accumulator->expected_frames = pair_count >= fft_size ? (pair_count - fft_size) / hop + 1 : 0;
  spectrum.row_count =
      static_cast<std::size_t>(std::min<std::uint64_t>(accumulator->expected_frames, spectrogram_rows));
  spectrum.row_bins = std::min(fft_size, MAX_SPECTROGRAM_ROW_BINS);
  spectrum.row_power.assign(spectrum.row_count * spectrum.row_bins, 0.0);
  accumulator->frames_in_row.assign(spectrum.row_count, 0);
  if (spectrum.row_count > 0) {
    spectrum.seconds_per_row =
        static_cast<double>(accumulator->expected_frames * hop) / static_cast<double>(spectrum.row_count) / sample_rate;
  }
  if (accumulator->transform.make(fft_size) != 0) return -1;
  accumulator->scale = 1.0 / (static_cast<double>(fft_size) * accumulator->transform.window_energy());
  accumulator->pending.resize(fft_size);
  accumulator->frame_power.resize(fft_size);
  accumulator->power.resize(fft_size);
  return 0;
}

void add_spectrum_pairs(SpectrumAccumulator* accumulator, std::span<const std::complex<float>> pairs) {
  const std::size_t size = accumulator->spectrum.fft_size;
  const std::size_t hop = size / 2;
  while (!pairs.empty()) {
    const std::size_t take = std::min(pairs.size(), size - accumulator->pending_count);
    std::copy_n(pairs.begin(), take,
                accumulator->pending.begin() + static_cast<std::ptrdiff_t>(accumulator->pending_count));
    accumulator->pending_count += take;
    pairs = pairs.subspan(take);
    if (accumulator->pending_count < size) break;
    transform_frame(accumulator);
    // The second half of this frame is the first half of the next.
    std::copy(accumulator->pending.begin() + static_cast<std::ptrdiff_t>(hop), accumulator->pending.end(),
              accumulator->pending.begin());
    accumulator->pending_count = size - hop;
  }
}

void break_spectrum_stream(SpectrumAccumulator* accumulator) { accumulator->pending_count = 0; }

CaptureSpectrum finish_spectrum(SpectrumAccumulator* accumulator) {
  CaptureSpectrum spectrum = std::move(accumulator->spectrum);
  spectrum.dropouts = accumulator->dropouts.spans();
  if (spectrum.frame_count > 0) {
    for (double& power : spectrum.average_power) power /= static_cast<double>(spectrum.frame_count);
  }
  const double group = static_cast<double>(spectrum.fft_size / std::max<std::size_t>(spectrum.row_bins, 1));
  for (std::size_t row = 0; row < spectrum.row_count; ++row) {
    const double frames = static_cast<double>(std::max<std::uint64_t>(accumulator->frames_in_row[row], 1));
    for (std::size_t k = 0; k < spectrum.row_bins; ++k)
      spectrum.row_power[row * spectrum.row_bins + k] /= frames * group;
  }
  *accumulator = SpectrumAccumulator{};
  return spectrum;
}

}  // namespace kdsp
