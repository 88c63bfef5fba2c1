// kdsp-synth as a user runs it: what it modulates, how exactly it repeats
// itself, and that a bad command line leaves nothing behind.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>

#include "base/numbers.h"
#include "tools/tool_process.h"

namespace kdsp {

namespace {

constexpr double PAIR_RATE = 240000.0;

ToolRun synth(std::vector<std::string> args) { return run_tool(tool_path("kdsp-synth"), args); }

double peak_magnitude(const std::vector<double>& signal, std::size_t first, std::size_t last) {
  double peak = 0.0;
  for (std::size_t n = first; n < last && n < signal.size(); ++n) peak = std::max(peak, std::fabs(signal[n]));
  return peak;
}

// A stereo file whose channels carry different tones, so the test can tell
// which one was used.
void write_stereo_tones(const std::string& path, int sample_rate, double seconds, double left_hz, double right_hz) {
  SF_INFO info{};
  info.samplerate = sample_rate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr);
  auto frames = static_cast<std::size_t>(seconds * sample_rate);
  std::vector<float> samples(2 * frames);
  for (std::size_t n = 0; n < frames; ++n) {
    double t = static_cast<double>(n) / sample_rate;
    samples[2 * n] = static_cast<float>(0.3 * std::sin(TWO_PI * left_hz * t));
    samples[2 * n + 1] = static_cast<float>(0.9 * std::sin(TWO_PI * right_hz * t));
  }
  EXPECT_EQ(sf_writef_float(file, samples.data(), static_cast<sf_count_t>(frames)), static_cast<sf_count_t>(frames));
  sf_close(file);
}

}  // namespace

TEST(SynthModulation, ToneGivesItsFrequencyAndThePeakDeviation) {
  ScratchDir dir;
  ToolRun run = synth(
      {"--audio", "tone:1000", "--deviation", "3000", "--offset", "-20000", "--duration", "0.25", dir.file("tone.iq")});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::complex<float>> pairs = read_pairs(dir.file("tone.iq"));
  ASSERT_EQ(pairs.size(), 60000u);
  EXPECT_NEAR(std::abs(pairs[0]), 0.5, 1e-6);
  std::vector<double> deviation = recover_deviation_hz(pairs, -20000.0);
  EXPECT_NEAR(peak_magnitude(deviation, 1000, deviation.size() - 1000), 3000.0, 30.0);
  EXPECT_NEAR(zero_crossing_hz(deviation, 1000, 48000, PAIR_RATE), 1000.0, 5.0);
}

TEST(SynthModulation, EveryBuiltInSignalPeaksAtTheDeviation) {
  for (const char* source : {"two-tone", "sweep:300,3300", "voice"}) {
    ScratchDir dir;
    ToolRun run = synth({"--audio", source, "--duration", "0.5", "--offset", "10000", dir.file("c.iq")});
    ASSERT_EQ(run.status, 0) << source << ": " << run.err;
    std::vector<double> deviation = recover_deviation_hz(read_pairs(dir.file("c.iq")), 10000.0);
    // Rate conversion may put a peak slightly above the source's own.
    EXPECT_NEAR(peak_magnitude(deviation, 0, deviation.size()), 5000.0, 150.0) << source;
  }
}

TEST(SynthModulation, AudioFileIsResampledAndItsFirstChannelUsed) {
  ScratchDir dir;
  write_stereo_tones(dir.file("in.wav"), 44100, 0.3, 1500.0, 400.0);
  ToolRun run =
      synth({"--audio", "file:" + dir.file("in.wav"), "--offset", "30000", "--duration", "0.5", dir.file("f.iq")});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::complex<float>> pairs = read_pairs(dir.file("f.iq"));
  ASSERT_EQ(pairs.size(), 120000u);
  std::vector<double> deviation = recover_deviation_hz(pairs, 30000.0);
  EXPECT_NEAR(zero_crossing_hz(deviation, 2400, 60000, PAIR_RATE), 1500.0, 8.0);
  EXPECT_NEAR(peak_magnitude(deviation, 2400, 62400), 5000.0, 100.0);
  // The file ends at 0.3 s; the rest of the capture is an unmodulated carrier.
  EXPECT_LT(peak_magnitude(deviation, 75000, deviation.size()), 1.0);
}

TEST(SynthModulation, FileLengthSetsTheDurationWhenNoneIsGiven) {
  ScratchDir dir;
  write_stereo_tones(dir.file("in.wav"), 8000, 0.2, 1000.0, 500.0);
  ToolRun run = synth({"--audio=file:" + dir.file("in.wav"), dir.file("f.iq")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(read_file(dir.file("f.iq")).size(), 48000u * 8);
}

TEST(SynthModulation, AudioOutHoldsTheAudioAsModulated) {
  ScratchDir dir;
  ToolRun run = synth({"--audio", "voice", "--duration", "0.5", "--audio-out", dir.file("ref.wav"), "--offset", "5000",
                       dir.file("v.iq")});
  ASSERT_EQ(run.status, 0) << run.err;
  int rate = 0;
  std::vector<float> reference = read_mono_wav(dir.file("ref.wav"), &rate);
  ASSERT_EQ(rate, 48000);
  ASSERT_EQ(reference.size(), 24000u);
  std::vector<double> deviation = recover_deviation_hz(read_pairs(dir.file("v.iq")), 5000.0);
  // Pair 5m carries reference sample m: correlate the two without any shift.
  double cross = 0.0, ref_energy = 0.0, dev_energy = 0.0;
  for (std::size_t m = 100; m + 100 < reference.size(); ++m) {
    cross += reference[m] * deviation[5 * m];
    ref_energy += reference[m] * reference[m];
    dev_energy += deviation[5 * m] * deviation[5 * m];
  }
  EXPECT_GT(cross / std::sqrt(ref_energy * dev_energy), 0.999);
}

TEST(SynthSeed, SameSeedSameBytesOtherSeedOtherBytes) {
  ScratchDir dir;
  auto make = [&](const std::string& name, const std::string& seed, bool noise) {
    std::vector<std::string> args = {"--duration", "0.1", "--second-offset", "40000", "--seed", seed};
    if (noise) args.insert(args.end(), {"--cnr", "20"});
    args.push_back(dir.file(name));
    EXPECT_EQ(synth(args).status, 0);
    return read_file(dir.file(name));
  };
  std::vector<std::uint8_t> first = make("a.iq", "7", true);
  ASSERT_EQ(first.size(), 24000u * 8);
  EXPECT_EQ(make("b.iq", "7", true), first);
  EXPECT_NE(make("c.iq", "8", true), first);
  // Without noise the seed still sets the carriers' phases.
  EXPECT_NE(make("d.iq", "7", false), make("e.iq", "8", false));
}

TEST(SynthOptions, BadOptionsFailWithAMessageAndLeaveNoFile) {
  const std::vector<std::vector<std::string>> bad_lines = {
      {"--offset", "100001"},
      {"--offset", "12k"},
      {"--offset", ""},
      {"--deviation", "0"},
      {"--deviation", "20000"},
      {"--duration", "31"},
      {"--duration", "0"},
      {"--cnr", "nan"},
      {"--audio", "noise"},
      {"--audio", "tone:0"},
      {"--audio", "two-tone:500"},
      {"--audio", "file:"},
      {"--second-level", "-6"},
      {"--second-audio", "voice"},
      {"--seed", "-1"},
      {"--seed", "1.5"},
      {"--frobnicate", "1"},
      {"-x"},
      {"--duration"},
  };
  for (const std::vector<std::string>& line : bad_lines) {
    ScratchDir dir;
    std::vector<std::string> args = line;
    if (line.size() > 1 || line[0] == "-x") args.push_back(dir.file("out.iq"));
    ToolRun run = synth(args);
    EXPECT_EQ(run.status, 2) << line[0];
    EXPECT_NE(run.err.find("kdsp-synth: "), std::string::npos) << line[0];
    EXPECT_TRUE(dir.entries().empty()) << line[0];
  }
  ScratchDir dir;
  EXPECT_EQ(synth({}).status, 2);
  EXPECT_EQ(synth({dir.file("a.iq"), dir.file("b.iq")}).status, 2);
  EXPECT_TRUE(dir.entries().empty());
}

TEST(SynthOptions, FailureWhileMakingKeepsTheOldOutput) {
  ScratchDir dir;
  write_pairs(dir.file("old.iq"), {{1.0f, 2.0f}});
  std::vector<std::uint8_t> old_bytes = read_file(dir.file("old.iq"));
  write_pairs(dir.file("not-audio.wav"), {{1.0f, 2.0f}});

  ToolRun missing = synth({"--audio", "file:" + dir.file("absent.wav"), dir.file("old.iq")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("absent.wav"), std::string::npos);
  ToolRun garbage = synth({"--audio", "file:" + dir.file("not-audio.wav"), dir.file("old.iq")});
  EXPECT_EQ(garbage.status, 1);
  // A float file may hold NaN; modulated, it would turn the capture's every
  // later pair into NaN.
  {
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(dir.file("nan.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> samples(800, 0.25f);
    samples[400] = std::nanf("");
    sf_writef_float(file, samples.data(), 800);
    sf_close(file);
  }
  ToolRun not_finite = synth({"--audio", "file:" + dir.file("nan.wav"), dir.file("old.iq")});
  EXPECT_EQ(not_finite.status, 1);
  EXPECT_NE(not_finite.err.find("finite"), std::string::npos) << not_finite.err;
  ToolRun nowhere = synth({"--duration", "0.01", dir.file("no-such-dir/out.iq")});
  EXPECT_EQ(nowhere.status, 1);
  ToolRun output_is_dir = synth({"--duration", "0.01", dir.path()});
  EXPECT_EQ(output_is_dir.status, 1);
  // A keyed recording streams to its target; when the target fills up, the
  // run fails and the truth, written after the recording, is not written.
  ToolRun full = synth({"--keyed-channels", "50k", "--rate", "240k", "--duration", "2", "--format", "cu8", "--truth",
                        dir.file("truth.json"), "/dev/full"});
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("cannot write '/dev/full'"), std::string::npos) << full.err;

  EXPECT_EQ(read_file(dir.file("old.iq")), old_bytes);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"nan.wav", "not-audio.wav", "old.iq"}));
}

// An audio file that is a FIFO would block the run until some writer came;
// like kdsp's own inputs it is refused at once. The run is bounded by
// timeout(1) so that a regression fails instead of hanging the suite.
TEST(SynthOptions, RefusesAFifoAsAudioAtOnce) {
  ScratchDir dir;
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  write_pairs(dir.file("old.iq"), {{1.0f, 2.0f}});
  for (const char* option : {"--audio", "--second-audio"}) {
    std::vector<std::string> args = {"30", tool_path("kdsp-synth"), option, "file:" + dir.file("fifo")};
    if (std::string(option) == "--second-audio") args.insert(args.end(), {"--second-offset", "20000"});
    args.push_back(dir.file("old.iq"));
    const ToolRun run = run_tool("/usr/bin/timeout", args);
    EXPECT_EQ(run.status, 1) << option << ": " << run.err;
    EXPECT_NE(run.err.find("not a regular file"), std::string::npos) << run.err;
  }
  EXPECT_EQ(read_pairs(dir.file("old.iq")).size(), 1u);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"fifo", "old.iq"}));
}

}  // namespace kdsp
