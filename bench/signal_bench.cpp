// Micro benchmarks of the signal path on 30 s of signal (--short: 1 s, for
// CI). Every figure has a floor beside it: the glibc calls the arithmetic
// cannot do without (sincos per mixed pair, atan2 per audio sample), a plain
// pass over the bytes for loading and encoding, and FFTW for the FFT. The
// live sources' reading of standard input follows (live_bench.cpp), and the
// tone decoder's cost per second of transmission (tone_bench.cpp).
//
//   kdsp_bench [--short] [google benchmark options]
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/memory.h"
#include "base/numbers.h"
#include "dsp/fft.h"
#include "dsp/fm_demod.h"
#include "dsp/freq_shift.h"
#include "dsp/oscillator.h"
#include "dsp/voice_band.h"
#include "formats/iq_capture.h"
#include "formats/wav.h"
#include "live_bench.h"
#include "tone_bench.h"
#include "vm/vm_state.h"

namespace kdsp {

namespace {

std::uint64_t g_seconds = 30;

std::uint64_t pair_count() { return g_seconds * IQ_SAMPLE_RATE; }
std::uint64_t audio_count() { return g_seconds * AUDIO_SAMPLE_RATE; }

// An FM channel at +25 kHz with noise, as interleaved float I/Q.
const std::vector<float>& capture() {
  static const std::vector<float> iq = [] {
    std::vector<float> v(2 * pair_count());
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    double phase = 0.0;
    for (std::uint64_t n = 0; n < pair_count(); ++n) {
      const double t = static_cast<double>(n) / IQ_SAMPLE_RATE;
      phase += TWO_PI * (25000.0 + 3000.0 * std::sin(TWO_PI * 440.0 * t)) / IQ_SAMPLE_RATE;
      v[2 * n] = static_cast<float>(0.5 * std::cos(phase)) + noise(rng);
      v[2 * n + 1] = static_cast<float>(0.5 * std::sin(phase)) + noise(rng);
    }
    return v;
  }();
  return iq;
}

std::vector<float> audio() {
  std::vector<float> x(audio_count());
  for (std::uint64_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(0.3 * std::sin(0.05 * static_cast<double>(i)));
  return x;
}

// ---- FFT beside FFTW ------------------------------------------------------------

std::vector<Complex> fft_input(std::uint64_t n) {
  std::vector<Complex> x(n);
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  for (Complex& c : x) c = Complex{value(rng), value(rng)};
  return x;
}

void BM_fft_radix2(benchmark::State& state) {
  const auto n = static_cast<std::uint64_t>(state.range(0));
  const std::vector<Complex> input = fft_input(n);
  std::vector<Complex> x = input;
  for (auto _ : state) {
    fft_radix2(x.data(), n, false);
    fft_radix2(x.data(), n, true);
    benchmark::DoNotOptimize(x.data());
  }
}

void BM_fftw_estimate(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  std::vector<Complex> x = fft_input(static_cast<std::uint64_t>(n));
  auto* data = reinterpret_cast<fftw_complex*>(x.data());
  fftw_plan forward = fftw_plan_dft_1d(n, data, data, FFTW_FORWARD, FFTW_ESTIMATE);
  fftw_plan backward = fftw_plan_dft_1d(n, data, data, FFTW_BACKWARD, FFTW_ESTIMATE);
  for (auto _ : state) {
    fftw_execute(forward);
    fftw_execute(backward);
    benchmark::DoNotOptimize(x.data());
  }
  fftw_destroy_plan(forward);
  fftw_destroy_plan(backward);
}

// ---- Signal functions -----------------------------------------------------------

void BM_fm_demodulate(benchmark::State& state) {
  const std::vector<float>& iq = capture();
  for (auto _ : state) {
    AudioBuffer* out = nullptr;
    if (fm_demodulate(iq.data(), pair_count(), 25000, &out) != 0) state.SkipWithError("fm_demodulate failed");
    free_audio_buffer(out);
  }
}

void BM_frequency_shift(benchmark::State& state) {
  std::vector<float> x = audio();
  const AudioBuffer in{x.data(), x.size(), AUDIO_SAMPLE_RATE};
  for (auto _ : state) {
    AudioBuffer* out = nullptr;
    if (frequency_shift(&in, 300, &out) != 0) state.SkipWithError("frequency_shift failed");
    free_audio_buffer(out);
  }
}

void BM_voice_band_filter(benchmark::State& state) {
  const std::vector<float> source = audio();
  std::vector<float> x = source;
  for (auto _ : state) {
    state.PauseTiming();
    x = source;
    state.ResumeTiming();
    if (voice_band_filter(x.data(), x.size()) != 0) state.SkipWithError("voice_band_filter failed");
  }
}

void BM_encode_wav(benchmark::State& state) {
  std::vector<float> x = audio();
  const AudioBuffer buffer{x.data(), x.size(), AUDIO_SAMPLE_RATE};
  for (auto _ : state) {
    std::uint8_t* bytes = nullptr;
    std::uint64_t length = 0;
    if (encode_wav(buffer, &bytes, &length, EMIT_GAIN) != 0) state.SkipWithError("encode_wav failed");
    mem_release(bytes);
  }
}

void BM_load_iq_capture(benchmark::State& state) {
  const std::string path = "/tmp/kdsp_bench_capture.iq";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(capture().data(), sizeof(float), capture().size(), f);
  std::fclose(f);
  for (auto _ : state) {
    IqCapture loaded{};
    if (load_iq_capture(path.c_str(), &loaded) != ResultCode::OK) state.SkipWithError("load_iq_capture failed");
    release_iq_capture(&loaded);
  }
  std::remove(path.c_str());
}

// ---- Floors -----------------------------------------------------------------------

// One sincos per mixed pair, as the mixer makes them.
void BM_floor_sincos_per_pair(benchmark::State& state) {
  const double step = -TWO_PI * 25000.0 / IQ_SAMPLE_RATE;
  for (auto _ : state) {
    PhaseAccumulator oscillator = start_phase(0.0);
    double sum = 0.0;
    for (std::uint64_t n = 0; n < pair_count(); ++n) {
      double s = 0.0;
      double c = 0.0;
      ::sincos(oscillator.phase, &s, &c);
      sum += s + c;
      advance_phase(oscillator, step);
    }
    benchmark::DoNotOptimize(sum);
  }
}

// One atan2 per audio sample, as the discriminator makes them.
void BM_floor_atan2_per_sample(benchmark::State& state) {
  std::vector<double> y(audio_count());
  std::vector<double> x(audio_count());
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  for (std::uint64_t i = 0; i < y.size(); ++i) {
    y[i] = value(rng) * 0.3;
    x[i] = 0.5 + value(rng) * 0.1;
  }
  for (auto _ : state) {
    double sum = 0.0;
    for (std::uint64_t i = 0; i < y.size(); ++i) sum += std::atan2(y[i], x[i]);
    benchmark::DoNotOptimize(sum);
  }
}

// Reading the capture's bytes from the page cache into fresh memory.
void BM_floor_read_capture_bytes(benchmark::State& state) {
  const std::string path = "/tmp/kdsp_bench_floor.iq";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(capture().data(), sizeof(float), capture().size(), f);
  std::fclose(f);
  const std::uint64_t bytes = capture().size() * sizeof(float);
  for (auto _ : state) {
    void* block = mem_alloc(bytes);
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (std::fread(block, 1, bytes, in) != bytes) state.SkipWithError("short read");
    std::fclose(in);
    mem_release(block);
  }
  std::remove(path.c_str());
}

void register_all() {
  const bool full = g_seconds == 30;
  for (int log2_n : {16, 21}) {
    if (!full && log2_n == 21) continue;
    benchmark::RegisterBenchmark("fft_radix2_fwd_inv", BM_fft_radix2)->Arg(1 << log2_n)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("fftw_estimate_fwd_inv", BM_fftw_estimate)
        ->Arg(1 << log2_n)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("fm_demodulate", BM_fm_demodulate)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("floor_sincos_per_pair", BM_floor_sincos_per_pair)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("floor_atan2_per_sample", BM_floor_atan2_per_sample)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("frequency_shift", BM_frequency_shift)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("voice_band_filter", BM_voice_band_filter)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("encode_wav", BM_encode_wav)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("load_iq_capture", BM_load_iq_capture)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("floor_read_capture_bytes", BM_floor_read_capture_bytes)->Unit(benchmark::kMillisecond);
  register_live_benchmarks(!full);
  register_tone_benchmarks(g_seconds);
}

}  // namespace

int run_program(int argc, char** argv) {
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--short") == 0) {
      g_seconds = 1;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  register_all();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace kdsp

int main(int argc, char** argv) { return kdsp::run_program(argc, argv); }
