#include "reference_signal.h"

#include <cmath>
#include <utility>

#include "base/numbers.h"
#include "dsp/channel_decimator.h"
#include "dsp/channel_filter.h"
#include "dsp/detail.h"
#include "dsp/oscillator.h"
#include "dsp/voice_band.h"
#include "formats/iq_capture.h"

namespace kdsp {

namespace reference {

namespace {

void bit_reverse_permute(Complex* x, std::uint64_t n) {
  std::uint64_t j = 0;
  for (std::uint64_t i = 1; i < n; ++i) {
    std::uint64_t bit = n / 2;
    while ((j & bit) != 0) {
      j ^= bit;
      bit /= 2;
    }
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
}

// The twiddle restarts at (1, 0) in every block and is walked by the
// recurrence after each butterfly.
void butterfly_stage(Complex* x, std::uint64_t n, std::uint64_t len, double c, double s) {
  const std::uint64_t half = len / 2;
  for (std::uint64_t k = 0; k < n; k += len) {
    Complex w{1.0, 0.0};
    for (std::uint64_t j = 0; j < half; ++j) {
      const Complex u = x[k + j];
      const Complex v = x[k + j + half];
      const Complex t{v.re * w.re - v.im * w.im, v.im * w.re + v.re * w.im};
      x[k + j] = Complex{u.re + t.re, u.im + t.im};
      x[k + j + half] = Complex{u.re - t.re, u.im - t.im};
      w = Complex{c * w.re - s * w.im, s * w.re + c * w.im};
    }
  }
}

// Padded work array holding x at FFT_PAD_OFFSET, or empty when no size exists.
std::vector<Complex> padded_work(const std::vector<float>& x) {
  std::uint64_t n = 0;
  if (fft_size_for(x.size(), &n) != 0) return {};
  std::vector<Complex> work(n, Complex{0.0, 0.0});
  for (std::uint64_t i = 0; i < x.size(); ++i) work[FFT_PAD_OFFSET + i].re = static_cast<double>(x[i]);
  return work;
}

void remove_dc(std::vector<float>& audio) {
  if (audio.empty()) return;
  double sum = 0.0;
  for (float v : audio) sum = sum + static_cast<double>(v);
  const float mean = static_cast<float>(sum / static_cast<double>(audio.size()));
  for (float& v : audio) v = v - mean;
}

void make_analytic(std::vector<Complex>& work) {
  const std::uint64_t n = work.size();
  for (std::uint64_t i = 1; i < n / 2; ++i) {
    work[i].re = work[i].re + work[i].re;
    work[i].im = work[i].im + work[i].im;
  }
  for (std::uint64_t i = n / 2 + 1; i < n; ++i) work[i] = Complex{0.0, 0.0};
}

}  // namespace

void reference_fft_radix2(Complex* x, std::uint64_t n, bool inverse) {
  if (n < 2) return;
  bit_reverse_permute(x, n);
  const double base = inverse ? TWO_PI : -TWO_PI;
  for (std::uint64_t len = 2; len <= n; len *= 2) {
    double s = 0.0;
    double c = 0.0;
    ::sincos(base / static_cast<double>(len), &s, &c);
    butterfly_stage(x, n, len, c, s);
    if (len == n) break;
  }
  if (inverse) {
    const double scale = static_cast<double>(n);
    for (std::uint64_t i = 0; i < n; ++i) {
      x[i].re = x[i].re / scale;
      x[i].im = x[i].im / scale;
    }
  }
}

bool reference_voice_band_filter(std::vector<float>& x) {
  std::vector<Complex> work = padded_work(x);
  if (work.empty()) return false;
  const std::uint64_t n = work.size();
  reference_fft_radix2(work.data(), n, false);
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::uint64_t k = i <= n / 2 ? i : n - i;
    const double f_hz = (static_cast<double>(k) * static_cast<double>(AUDIO_SAMPLE_RATE)) / static_cast<double>(n);
    const double g = detail::voice_band_gain(f_hz);
    work[i].re = work[i].re * g;
    work[i].im = work[i].im * g;
  }
  reference_fft_radix2(work.data(), n, true);
  for (std::uint64_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(work[FFT_PAD_OFFSET + i].re);
  return true;
}

void reference_fm_mix_down(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz, float* mixed) {
  const double step = (static_cast<double>(offset_hz) * -TWO_PI) / static_cast<double>(IQ_SAMPLE_RATE);
  double phase = 0.0;
  double cosine = 1.0;
  double sine = 0.0;
  for (std::uint64_t n = 0; n < pair_count; ++n) {
    const double i_value = static_cast<double>(iq_samples[2 * n]);
    const double q_value = static_cast<double>(iq_samples[2 * n + 1]);
    mixed[2 * n] = static_cast<float>(i_value * cosine - q_value * sine);
    mixed[2 * n + 1] = static_cast<float>(i_value * sine + q_value * cosine);
    phase = phase + step;
    if (n % PHASE_WRAP_INTERVAL == PHASE_WRAP_INTERVAL - 1) phase = std::remainder(phase, TWO_PI);
    if (n + 1 < pair_count) ::sincos(phase, &sine, &cosine);
  }
}

void reference_fm_channel_decimate(const float* mixed, std::uint64_t pair_count, const double* taps,
                                   Complex* baseband) {
  const std::uint64_t half = CHANNEL_FILTER_CENTRE;
  const std::uint64_t output_count = pair_count / DECIMATION_FACTOR;
  for (std::uint64_t k = 0; k < output_count; ++k) {
    const std::uint64_t centre = DECIMATION_FACTOR * k;
    const std::uint64_t first = centre >= half ? centre - half : 0;
    const std::uint64_t last = centre + half < pair_count ? centre + half : pair_count - 1;
    double re = 0.0;
    double im = 0.0;
    for (std::uint64_t m = first; m <= last; ++m) {
      const double t = taps[m + half - centre];
      re = re + static_cast<double>(mixed[2 * m]) * t;
      im = im + static_cast<double>(mixed[2 * m + 1]) * t;
    }
    baseband[k] = Complex{re, im};
  }
}

void reference_fm_discriminate(const Complex* baseband, std::uint64_t count, float* audio) {
  if (count == 0) return;
  audio[0] = 0.0f;
  for (std::uint64_t m = 1; m < count; ++m) {
    const Complex a = baseband[m];
    const Complex b = baseband[m - 1];
    const double y = b.re * a.im - a.re * b.im;
    const double x = a.im * b.im + a.re * b.re;
    audio[m] = static_cast<float>(std::atan2(y, x) * 1.5278874536821951);
  }
}

std::vector<float> reference_fm_demodulate(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz) {
  std::vector<float> mixed(2 * pair_count);
  reference_fm_mix_down(iq_samples, pair_count, offset_hz, mixed.data());
  double taps[CHANNEL_FILTER_TAPS];
  design_channel_filter(taps);
  const std::uint64_t audio_count = pair_count / DECIMATION_FACTOR;
  std::vector<Complex> baseband(audio_count);
  reference_fm_channel_decimate(mixed.data(), pair_count, taps, baseband.data());
  std::vector<float> audio(audio_count);
  reference_fm_discriminate(baseband.data(), audio_count, audio.data());
  remove_dc(audio);
  reference_voice_band_filter(audio);
  return audio;
}

void reference_shift_mix_down(const Complex* analytic, std::uint64_t count, std::uint32_t shift_hz, float* out) {
  const double a = static_cast<double>(shift_hz) * TWO_PI;
  const double sample_rate = static_cast<double>(AUDIO_SAMPLE_RATE);
  const double phase_step = a / sample_rate;
  double phase = (static_cast<double>(FFT_PAD_OFFSET) * a) / sample_rate;
  for (std::uint64_t i = 0; i < count; ++i) {
    double s = 0.0;
    double c = 0.0;
    ::sincos(phase, &s, &c);
    out[i] = static_cast<float>(c * analytic[i].re + s * analytic[i].im);
    phase = phase + phase_step;
    if (i % PHASE_WRAP_INTERVAL == PHASE_WRAP_INTERVAL - 1) phase = std::remainder(phase, TWO_PI);
  }
}

std::vector<float> reference_frequency_shift(const std::vector<float>& in, std::uint32_t shift_hz) {
  std::vector<Complex> work = padded_work(in);
  const std::uint64_t n = work.size();
  reference_fft_radix2(work.data(), n, false);
  make_analytic(work);
  reference_fft_radix2(work.data(), n, true);
  std::vector<float> out(in.size());
  reference_shift_mix_down(work.data() + FFT_PAD_OFFSET, in.size(), shift_hz, out.data());
  reference_voice_band_filter(out);
  return out;
}

}  // namespace reference

}  // namespace kdsp
