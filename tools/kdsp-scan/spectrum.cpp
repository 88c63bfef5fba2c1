#include "spectrum.h"

#include <cmath>

#include "base/numbers.h"
#include "dsp/complex.h"
#include "dsp/fft.h"
#include "formats/iq_capture.h"

namespace kdsp {

namespace {

std::vector<double> hann_window(std::size_t size) {
  std::vector<double> window(size);
  for (std::size_t n = 0; n < size; ++n) {
    window[n] = 0.5 - 0.5 * std::cos(TWO_PI * static_cast<double>(n) / static_cast<double>(size));
  }
  return window;
}

// Adds the frame's bin powers, lowest frequency first, to `sum`.
void accumulate_shifted(std::span<const Complex> bins, double scale, double* sum) {
  const std::size_t size = bins.size();
  for (std::size_t k = 0; k < size; ++k) {
    sum[(k + size / 2) % size] += (bins[k].re * bins[k].re + bins[k].im * bins[k].im) * scale;
  }
}

}  // namespace

double bin_offset_hz(const CaptureSpectrum& spectrum, std::size_t bin) {
  const std::size_t centre_bin = spectrum.fft_size / 2;  // the size is even
  return (static_cast<double>(bin) - static_cast<double>(centre_bin)) * spectrum.bin_hz;
}

CaptureSpectrum analyse_capture(std::span<const float> iq_values, double sample_rate, std::size_t fft_size) {
  const std::size_t size = fft_size;
  const std::size_t hop = size / 2;
  const std::size_t pair_count = iq_values.size() / 2;
  const std::size_t frame_count = (pair_count - size) / hop + 1;

  CaptureSpectrum spectrum;
  spectrum.fft_size = size;
  spectrum.bin_hz = sample_rate / static_cast<double>(size);
  spectrum.average_power.assign(size, 0.0);
  spectrum.row_count = std::min(frame_count, MAX_SPECTROGRAM_ROWS);
  spectrum.row_power.assign(spectrum.row_count * size, 0.0);
  std::vector<std::size_t> frames_in_row(spectrum.row_count, 0);

  std::vector<double> window = hann_window(size);
  double window_energy = 0.0;
  for (double w : window) window_energy += w * w;
  const double scale = 1.0 / (static_cast<double>(size) * window_energy);

  std::vector<Complex> bins(size);
  for (std::size_t frame = 0; frame < frame_count; ++frame) {
    const float* pairs = iq_values.data() + 2 * frame * hop;
    for (std::size_t n = 0; n < size; ++n) bins[n] = {pairs[2 * n] * window[n], pairs[2 * n + 1] * window[n]};
    fft_radix2(bins.data(), size, false);
    std::size_t row = frame * spectrum.row_count / frame_count;
    accumulate_shifted(bins, scale, spectrum.average_power.data());
    accumulate_shifted(bins, scale, spectrum.row_power.data() + row * size);
    ++frames_in_row[row];
  }
  for (double& power : spectrum.average_power) power /= static_cast<double>(frame_count);
  for (std::size_t row = 0; row < spectrum.row_count; ++row) {
    for (std::size_t k = 0; k < size; ++k)
      spectrum.row_power[row * size + k] /= static_cast<double>(frames_in_row[row]);
  }
  spectrum.seconds_per_row =
      static_cast<double>(frame_count * hop) / static_cast<double>(spectrum.row_count) / sample_rate;
  return spectrum;
}

}  // namespace kdsp
