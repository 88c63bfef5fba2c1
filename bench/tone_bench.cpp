#include "tone_bench.h"

#include <benchmark/benchmark.h>

#include <complex>
#include <random>
#include <vector>

#include "base/numbers.h"
#include "formats/iq_capture.h"
#include "radio/tones/tone_decoder.h"
#include "radio/tones/tone_generator.h"

namespace kdsp {

namespace {

std::uint64_t g_seconds = 0;
constexpr double OFFSET_HZ = 25000.0;
constexpr double DEVIATION_HZ = 5000.0;

// The channel at OFFSET_HZ modulated by a 440 Hz tone and `tone`.
std::vector<std::complex<float>> keyed_capture(const Tone& tone) {
  const std::uint64_t pairs = g_seconds * IQ_SAMPLE_RATE;
  std::vector<float> audio(pairs);
  for (std::uint64_t n = 0; n < pairs; ++n) {
    audio[n] = static_cast<float>(0.85 * std::sin(TWO_PI * 440.0 * static_cast<double>(n) / IQ_SAMPLE_RATE));
  }
  // The tone at 8000 per second held between samples: its steps lie far
  // above the band the decoder reads.
  constexpr std::uint64_t PAIRS_PER_SAMPLE = IQ_SAMPLE_RATE / 8000;
  ToneGenerator generator;
  Failure failure;
  std::vector<float> made(pairs / PAIRS_PER_SAMPLE + 1, 0.0f);
  if (create_tone_generator(tone, 8000.0, TYPICAL_TONE_LEVEL, &generator, &failure) == 0) add_tone(*generator, made);
  for (std::uint64_t n = 0; n < pairs; ++n) audio[n] += made[n / PAIRS_PER_SAMPLE];
  std::vector<std::complex<float>> capture(pairs);
  std::mt19937 random(7);
  std::normal_distribution<float> noise(0.0f, 0.05f);
  double phase = 0.0;
  for (std::uint64_t n = 0; n < pairs; ++n) {
    capture[n] = std::polar(0.5f, static_cast<float>(phase)) + std::complex<float>(noise(random), noise(random));
    phase = std::remainder(phase + TWO_PI * (OFFSET_HZ + DEVIATION_HZ * audio[n]) / IQ_SAMPLE_RATE, TWO_PI);
  }
  return capture;
}

void BM_decode(benchmark::State& state, const Tone& tone) {
  const std::vector<std::complex<float>> capture = keyed_capture(tone);
  for (auto _ : state) {
    ToneDecoder decoder;
    Failure failure;
    if (create_tone_decoder(OFFSET_HZ, &decoder, &failure) != 0) state.SkipWithError(failure.cause.c_str());
    feed_tone_decoder(*decoder, capture);
    const ToneReading reading = finish_tone_decoder(*decoder);
    if (!(reading.tone == tone)) state.SkipWithError("the tone was not read");
    benchmark::DoNotOptimize(reading);
  }
  // CPU seconds per second of transmission (printed with an SI prefix: 1.5m is
  // 1.5 ms a second).
  state.counters["cpu_per_signal_s"] = benchmark::Counter(
      static_cast<double>(g_seconds), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_create(benchmark::State& state) {
  for (auto _ : state) {
    ToneDecoder decoder;
    Failure failure;
    benchmark::DoNotOptimize(create_tone_decoder(OFFSET_HZ, &decoder, &failure));
  }
}

}  // namespace

void register_tone_benchmarks(std::uint64_t seconds) {
  g_seconds = seconds;
  benchmark::RegisterBenchmark("tone_decode_ctcss", BM_decode, Tone{ToneKind::CTCSS, 100.0, 0, false})
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("tone_decode_dcs", BM_decode, Tone{ToneKind::DCS, 0.0, 23, false})
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("tone_decoder_create", BM_create)->Unit(benchmark::kMicrosecond);
}

}  // namespace kdsp
