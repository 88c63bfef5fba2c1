// kdsp-scan on recordings in every format kdsp-rx reads, at receivers'
// rates: the channel found where it was put, frequencies absolute when the
// centre is known, a receiver's line at 0 Hz left out, and neighbours
// 12.5 kHz apart told apart.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>

#include "tools/recording_synth.h"
#include "tools/tool_process.h"

namespace kdsp {

namespace {

ToolRun scan(std::vector<std::string> args) { return run_tool(tool_path("kdsp-scan"), args); }

SynthChannel voice_channel(double offset_hz, double amplitude) {
  ModulatingAudio speech = speech_audio("hts1a.raw");
  if (speech.samples.empty()) speech = tone_audio(800.0, 1.0, 1.0);
  return {offset_hz, 2500.0, amplitude, speech};
}

SynthRecording recording_at(double rate, double duration_s, std::vector<SynthChannel> channels) {
  SynthRecording recording;
  recording.sample_rate = rate;
  recording.duration_s = duration_s;
  recording.channels = std::move(channels);
  recording.noise_rms = 0.01;
  return recording;
}

// The listed frequencies (or offsets), strongest first.
std::vector<double> listed_hz(const ToolRun& run) {
  std::vector<double> hz;
  for (const ScanLine& line : parse_scan_report(run.out)) hz.push_back(line.offset_hz);
  return hz;
}

bool lists_near(const std::vector<double>& listed, double expected_hz, double tolerance_hz) {
  return std::any_of(listed.begin(), listed.end(),
                     [&](double hz) { return std::fabs(hz - expected_hz) < tolerance_hz; });
}

}  // namespace

TEST(ScanFormats, EveryFormatFindsTheChannelWhereItWasPut) {
  struct Case {
    const char* name;
    double rate;
    std::vector<std::string> args;
    double listed_hz;  // absolute where the centre is known
  };
  const double offset_hz = -312500.0;
  const Case cases[] = {
      {"r.cu8", 2400000.0, {"--rate", "2.4M"}, offset_hz},
      {"r.cs8", 1024000.0, {"--rate", "1.024e6"}, offset_hz},
      {"r.cs16", 2048000.0, {"--rate", "2048000", "--center", "433.92M"}, 433.92e6 + offset_hz},
      {"r.cf32", 1000000.0, {"--rate", "1M"}, offset_hz},
      {"r.raw", 960000.0, {"--format", "cs16", "--rate", "960k"}, offset_hz},
      {"r16.wav", 768000.0, {}, offset_hz},
      {"r.sigmf-meta", 2400000.0, {}, 145.5e6 + offset_hz},
      {"s.sigmf-data", 2400000.0, {"--center", "446M"}, 446e6 + offset_hz},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const SynthRecording recording = recording_at(c.rate, 0.2, {voice_channel(offset_hz, 0.3)});
    const std::string name = c.name;
    const std::string path = dir.file(name);
    if (name == "r16.wav") {
      write_wav_recording(path, SF_FORMAT_PCM_16, recording);
    } else if (name == "r.sigmf-meta") {
      write_sigmf_recording(dir.file("r"), "ci16_le", 145.5e6, recording);
    } else if (name == "s.sigmf-data") {
      write_sigmf_recording(dir.file("s"), "cu8", 0.0, recording);
    } else {
      const std::string format = c.args[0] == "--format" ? c.args[1] : name.substr(name.find('.') + 1);
      write_raw_recording(path, format, recording);
    }
    std::vector<std::string> args = {path};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ToolRun run = scan(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<double> listed = listed_hz(run);
    ASSERT_EQ(listed.size(), 1u) << run.out;
    EXPECT_NEAR(listed[0], c.listed_hz, 300.0) << run.out;
  }
}

TEST(ScanFormats, KdspCaptureAndRawFileWithoutARate) {
  ScratchDir dir;
  const SynthRecording recording = recording_at(240000.0, 0.5, {voice_channel(42000.0, 0.3)});
  // A kdsp capture is float32 pairs at 240000/s, so its rate is known; the
  // same bytes named .cf32 need --rate.
  write_raw_recording(dir.file("c.iq"), "cf32", recording);
  write_raw_recording(dir.file("c.cf32"), "cf32", recording);
  const ToolRun capture = scan({dir.file("c.iq"), "--center", "145.5M"});
  ASSERT_EQ(capture.status, 0) << capture.err;
  ASSERT_EQ(listed_hz(capture).size(), 1u) << capture.out;
  EXPECT_NEAR(listed_hz(capture)[0], 145542000.0, 300.0);
  // With the centre, the offset is listed too, after the width.
  EXPECT_NE(capture.out.find("freq_hz"), std::string::npos);
  EXPECT_NE(capture.out.find("  42000  "), std::string::npos) << capture.out;

  const ToolRun no_rate = scan({dir.file("c.cf32")});
  EXPECT_EQ(no_rate.status, 1);
  EXPECT_NE(no_rate.err.find("c.cf32"), std::string::npos) << no_rate.err;
  EXPECT_NE(no_rate.err.find("--rate"), std::string::npos) << no_rate.err;
  const ToolRun with_rate = scan({dir.file("c.cf32"), "--rate", "240k"});
  ASSERT_EQ(with_rate.status, 0) << with_rate.err;
  EXPECT_EQ(listed_hz(with_rate), listed_hz(scan({dir.file("c.iq")})));
  EXPECT_EQ(scan({dir.file("c.cf32"), "--rate", "fast"}).status, 2);
  EXPECT_EQ(scan({dir.file("c.cf32"), "--format", "cu9", "--rate", "1M"}).status, 2);
}

TEST(ScanChannels, ReceiverLineAtZeroHertzIsNoChannel) {
  // An 8-bit receiver's leak: an unmodulated line at exactly the centre,
  // stronger than any channel, alone and beside a channel 4 kHz away.
  for (double channel_hz : {150000.0, 4000.0}) {
    SCOPED_TRACE(channel_hz);
    ScratchDir dir;
    SynthRecording recording = recording_at(2400000.0, 0.2, {voice_channel(channel_hz, 0.2)});
    recording.channels.push_back({0.0, 0.0, 0.45, {}});
    write_raw_recording(dir.file("dongle.cu8"), "cu8", recording);
    const ToolRun run = scan({dir.file("dongle.cu8"), "--rate", "2.4M"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<double> listed = listed_hz(run);
    ASSERT_EQ(listed.size(), 1u) << run.out;
    EXPECT_NEAR(listed[0], channel_hz, 300.0) << run.out;
  }
}

TEST(ScanChannels, NeighboursTwelveAndAHalfKilohertzApartAreTwo) {
  // Equal voice channels on a 12.5 kHz raster, at a receiver's rate and at
  // the core's own.
  for (double rate : {2400000.0, 240000.0}) {
    SCOPED_TRACE(rate);
    ScratchDir dir;
    SynthRecording recording = recording_at(rate, 0.5, {voice_channel(50000.0, 0.3)});
    recording.channels.push_back({62500.0, 2500.0, 0.3, tone_audio(700.0, 1.0, 1.0)});
    write_raw_recording(dir.file("band.cs16"), "cs16", recording);
    const ToolRun run = scan({dir.file("band.cs16"), "--rate", std::to_string(static_cast<int>(rate))});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<double> listed = listed_hz(run);
    ASSERT_EQ(listed.size(), 2u) << run.out;
    EXPECT_TRUE(lists_near(listed, 50000.0, 500.0)) << run.out;
    EXPECT_TRUE(lists_near(listed, 62500.0, 500.0)) << run.out;
  }
}

}  // namespace kdsp

namespace kdsp {

// kdsp-synth writes a SigMF pair (data and metadata) that the readers take
// as they are: datatype, rate and centre from the metadata alone.
TEST(ScanFormats, SynthesizedSigmfPairIsReadWithItsCentre) {
  ScratchDir dir;
  const std::string data = dir.file("rec.sigmf-data");
  const ToolRun made = run_tool(tool_path("kdsp-synth"),
                                {"--keyed-channels", "-75k", "--key", "1:0-2", "--rate", "1.2M", "--duration", "2",
                                 "--cnr", "25", "--format", "cs16", "--center", "446.1M", "--seed", "4", data});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string meta = read_text(dir.file("rec.sigmf-meta"));
  EXPECT_NE(meta.find("\"ci16_le\""), std::string::npos) << meta;
  for (const std::string& named : {data, dir.file("rec.sigmf-meta")}) {
    const ToolRun run = scan({named});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(lists_near(listed_hz(run), 446.1e6 - 75000.0, 300.0)) << run.out;
  }
}

}  // namespace kdsp
