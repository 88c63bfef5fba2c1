// Audio in, capture out, voice back: kdsp-synth modulates known audio, kdsp
// demodulates it, and the result is compared with the source in the voice band.
#include <gtest/gtest.h>

#include "support/kernel_words.h"

#include <algorithm>
#include <cmath>

#include "dsp/voice_band.h"
#include "support/tone.h"
#include "tools/tool_process.h"

namespace kdsp {

namespace {

// Synthesizes `args`, runs the six-word kernel (offset +25 kHz) on the
// capture, returns the demodulated audio.
std::vector<double> demodulate(const ScratchDir& dir, std::vector<std::string> synth_args) {
  synth_args.push_back(dir.file("capture.iq"));
  const ToolRun synth = run_tool(tool_path("kdsp-synth"), synth_args);
  EXPECT_EQ(synth.status, 0) << synth.err;
  write_file(dir.file("kernel.kdsp"), kernel_file(words::SIX_WORD_KERNEL));
  const ProcessResult run = run_kdsp({dir.file("capture.iq"), dir.file("kernel.kdsp"), dir.file("out.wav")});
  EXPECT_EQ(run.status, 0) << run.err;
  return wav_samples(read_file(dir.file("out.wav")));
}

// Largest normalised correlation of b against a over lags -max_lag..max_lag,
// away from the ends.
double best_correlation(const std::vector<double>& a, const std::vector<double>& b, int max_lag) {
  const std::size_t n = std::min(a.size(), b.size());
  const std::size_t edge = 4800;  // 0.1 s at each end, where the filters start and stop
  double best = -1.0;
  for (int lag = -max_lag; lag <= max_lag; ++lag) {
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (std::size_t i = edge; i + edge < n; ++i) {
      const auto j = static_cast<std::ptrdiff_t>(i) + lag;
      if (j < 0 || static_cast<std::size_t>(j) >= n) continue;
      ab += a[i] * b[static_cast<std::size_t>(j)];
      aa += a[i] * a[i];
      bb += b[static_cast<std::size_t>(j)] * b[static_cast<std::size_t>(j)];
    }
    best = std::max(best, ab / std::sqrt(aa * bb));
  }
  return best;
}

}  // namespace

TEST(EndToEndQuality, VoiceComesBackFaithfullyAtThirtyDecibels) {
  ScratchDir dir;
  const std::vector<double> received = demodulate(
      dir, {"--audio", "voice", "--offset", "25000", "--cnr", "30", "--seed", "3", "--duration", "2", "--second-offset",
            "-40000", "--second-audio", "tone:1500", "--audio-out", dir.file("source.wav")});
  int rate = 0;
  std::vector<float> source = read_mono_wav(dir.file("source.wav"), &rate);
  ASSERT_EQ(rate, 48000);
  ASSERT_FALSE(source.empty());
  // The comparison is made in the voice band, where the tool's output lives.
  ASSERT_EQ(voice_band_filter(source.data(), source.size()), 0);
  const std::vector<double> reference(source.begin(), source.end());
  ASSERT_GE(received.size(), 90000u);
  const double correlation = best_correlation(reference, received, 48);
  RecordProperty("correlation", std::to_string(correlation));
  EXPECT_GE(correlation, 0.99);
}

TEST(EndToEndQuality, NeighbouringChannelIsNotHeard) {
  // The wanted channel carries 1000 Hz, the neighbour 40 kHz away 1500 Hz at
  // the same level: the neighbour's tone must stay 40 dB below.
  ScratchDir dir;
  const std::vector<double> received =
      demodulate(dir, {"--audio", "tone:1000", "--offset", "25000", "--cnr", "30", "--seed", "5", "--duration", "1",
                       "--second-offset", "-15000", "--second-audio", "tone:1500"});
  const double wanted = tone_amplitude(received, 48000, 1000, 4800, received.size() - 4800);
  const double neighbour = tone_amplitude(received, 48000, 1500, 4800, received.size() - 4800);
  EXPECT_GT(wanted, 0.1);
  const double neighbour_db = 20.0 * std::log10(neighbour / wanted);
  RecordProperty("neighbour_db", std::to_string(neighbour_db));
  EXPECT_LT(neighbour_db, -40.0);
}

}  // namespace kdsp
