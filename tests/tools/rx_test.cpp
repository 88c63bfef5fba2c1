// kdsp-rx on recordings made by the tests in every format it reads: the
// bytes kdsp writes where the input is kdsp's own, the channel's audio for
// any other, long recordings joined from pieces without a trace, the same
// output for any number of parallel pieces, and a refusal that names the
// file, the cause and the fix for every input it cannot use.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>

#include "base/numbers.h"
#include "dsp/voice_band.h"
#include "support/kernel_words.h"
#include "support/tone.h"
#include "tools/recording_synth.h"
#include "tools/tool_process.h"

namespace kdsp {

namespace {

ToolRun rx(std::vector<std::string> args) { return run_tool(tool_path("kdsp-rx"), args); }

std::vector<std::uint32_t> offset_kernel_words() {
  return {words::getiq(2),      words::ld(4, 0, 0), words::fmdemod(3, 2, 4),
          words::addi(1, 3, 0), words::emit(),      words::halt()};
}

// A kernel image that demodulates the channel at `offset_hz` (from data).
Bytes offset_kernel(std::int32_t offset_hz) {
  const auto bits = static_cast<std::uint32_t>(offset_hz);
  return kernel_file(offset_kernel_words(),
                     {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                      static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)});
}

SynthRecording tone_recording(double rate, double offset_hz, double duration_s) {
  SynthRecording recording;
  recording.sample_rate = rate;
  recording.duration_s = duration_s;
  recording.channels.push_back({offset_hz, 2500.0, 0.5, tone_audio(1000.0, 1.0, 1.0)});
  recording.noise_rms = 0.01;
  return recording;
}

// The voice band of the audio that modulated a channel, at 48 kHz, from
// 0 to duration_s: what a perfect receiver would give.
std::vector<double> band_limited_source(const ModulatingAudio& audio, double duration_s) {
  std::vector<float> source(static_cast<std::size_t>(duration_s * 48000.0));
  for (std::size_t n = 0; n < source.size(); ++n)
    source[n] = static_cast<float>(audio_at(audio, static_cast<double>(n) / 48000.0));
  EXPECT_EQ(voice_band_filter(source.data(), source.size()), 0);
  return {source.begin(), source.end()};
}

// Normalised correlation of a and b over [begin, end), at the lag (within
// +-max_lag) where it is largest.
double correlation(const std::vector<double>& a, const std::vector<double>& b, std::size_t begin, std::size_t end,
                   int max_lag = 4) {
  double best = -1.0;
  for (int lag = -max_lag; lag <= max_lag; ++lag) {
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (std::size_t i = begin; i < end; ++i) {
      const auto j = static_cast<std::ptrdiff_t>(i) + lag;
      if (j < 0 || static_cast<std::size_t>(j) >= b.size() || i >= a.size()) continue;
      ab += a[i] * b[static_cast<std::size_t>(j)];
      aa += a[i] * a[i];
      bb += b[static_cast<std::size_t>(j)] * b[static_cast<std::size_t>(j)];
    }
    best = std::max(best, ab / std::sqrt(aa * bb));
  }
  return best;
}

// The offset kdsp-rx says it chose, from its one line on standard error.
double announced_offset_hz(const std::string& err) {
  const std::size_t at = err.find("offset ");
  return at == std::string::npos ? 1e12 : std::strtod(err.c_str() + at + 7, nullptr);
}

double measured_tone_hz(const std::vector<double>& audio) {
  return zero_crossing_hz(audio, 4800, audio.size() - 9600, 48000.0);
}

}  // namespace

TEST(RxExactness, KdspCaptureGivesTheBytesKdspWrites) {
  ScratchDir dir;
  const std::string capture = dir.file("capture.iq");
  ASSERT_EQ(run_tool(tool_path("kdsp-synth"), {"--audio", "voice", "--offset", "25000", "--second-offset", "-40000",
                                               "--cnr", "25", "--duration", "2", "--seed", "4", capture})
                .status,
            0);
  write_file(dir.file("six.kdsp"), kernel_file(words::SIX_WORD_KERNEL));
  ASSERT_EQ(run_kdsp({capture, dir.file("six.kdsp"), dir.file("kdsp.wav")}).status, 0);
  const ToolRun run = rx({capture, "--offset", "25000", "-o", dir.file("rx.wav")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(read_file(dir.file("rx.wav")), read_file(dir.file("kdsp.wav")));

  // Below the centre, and to standard output.
  write_file(dir.file("low.kdsp"), offset_kernel(-40000));
  ASSERT_EQ(run_kdsp({capture, dir.file("low.kdsp"), dir.file("kdsp-low.wav")}).status, 0);
  ProcessOptions to_file;
  to_file.stdout_path = dir.file("rx-low.wav");
  const ProcessResult low = run_process(tool_path("kdsp-rx"), {capture, "--offset=-40k", "-o", "-"}, to_file);
  ASSERT_EQ(low.status, 0) << low.err;
  EXPECT_EQ(read_file(dir.file("rx-low.wav")), read_file(dir.file("kdsp-low.wav")));
}

TEST(RxFormats, EveryFormatAndRateGivesTheChannelsTone) {
  struct Case {
    const char* name;
    double rate;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"r.cu8", 2400000.0, {"--rate", "2.4M"}},
      {"r.cs8", 1024000.0, {"--rate", "1.024e6"}},
      {"r.cs16", 2048000.0, {"--rate", "2048000"}},
      {"r.cf32", 250000.0, {"--rate", "250k"}},
      {"r.raw", 300000.0, {"--format", "cs16", "--rate", "300k"}},
      {"r16.wav", 96000.0, {}},
      {"rf.wav", 192000.0, {}},
      {"r.sigmf-meta", 2400000.0, {}},
      {"s.sigmf-data", 1000000.0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const double offset_hz = -30000.0;
    const SynthRecording recording = tone_recording(c.rate, offset_hz, 0.5);
    const std::string name = c.name;
    const std::string path = dir.file(name);
    if (name == "r16.wav") {
      write_wav_recording(path, SF_FORMAT_PCM_16, recording);
    } else if (name == "rf.wav") {
      write_wav_recording(path, SF_FORMAT_FLOAT, recording);
    } else if (name == "r.sigmf-meta") {
      write_sigmf_recording(dir.file("r"), "ci16_le", 145.5e6, recording);
    } else if (name == "s.sigmf-data") {
      write_sigmf_recording(dir.file("s"), "cu8", 0.0, recording);
    } else {
      const std::string format = c.args.size() > 2 ? c.args[1] : name.substr(name.find('.') + 1);
      write_raw_recording(path, format, recording);
    }
    std::vector<std::string> args = {path, "-o", dir.file("out.wav")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (name == "r.sigmf-meta") {
      args.insert(args.end(), {"--freq", "145.47M"});
    } else {
      args.insert(args.end(), {"--offset", "-30k"});
    }
    const ToolRun run = rx(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<double> audio = wav_samples(read_file(dir.file("out.wav")));
    ASSERT_EQ(audio.size(), static_cast<std::size_t>(0.5 * 48000));
    EXPECT_NEAR(measured_tone_hz(audio), 1000.0, 2.0);
    // 2.5 kHz of deviation reads as 0.5, times the core's output gain 0.72.
    EXPECT_NEAR(tone_amplitude(audio, 48000, 1000.0, 4800, audio.size() - 4800), 0.36, 0.02);

    // Without a channel named, the finder places it within a few hundred hertz.
    args.resize(args.size() - 2);
    const ToolRun found = rx(args);
    ASSERT_EQ(found.status, 0) << found.err;
    EXPECT_NEAR(announced_offset_hz(found.err), offset_hz, 300.0) << found.err;
    EXPECT_NEAR(measured_tone_hz(wav_samples(read_file(dir.file("out.wav")))), 1000.0, 2.0);
  }
}

TEST(RxChannelChoice, FinderPicksTheStrongestChannelOfAWideRecording) {
  // 2.4 MS/s cu8 as a dongle writes it: the strongest channel far from the
  // centre, a weaker one, and a leak at 0 Hz that is not a channel.
  ScratchDir dir;
  SynthRecording recording = tone_recording(2400000.0, 312345.0, 1.0);
  recording.channels[0].amplitude = 0.35;
  recording.channels.push_back({-512500.0, 2500.0, 0.1, tone_audio(600.0, 1.0, 1.0)});
  recording.channels.push_back({0.0, 0.0, 0.45, {}});  // stronger than any channel
  write_raw_recording(dir.file("dongle.cu8"), "cu8", recording);
  const ToolRun run = rx({dir.file("dongle.cu8"), "--rate", "2.4M", "--center", "145.5M", "-o", dir.file("out.wav")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NEAR(announced_offset_hz(run.err), 312345.0, 300.0) << run.err;
  EXPECT_NE(run.err.find("channel at 14581"), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
  EXPECT_NEAR(measured_tone_hz(wav_samples(read_file(dir.file("out.wav")))), 1000.0, 2.0);
  // --quiet keeps even that line back.
  const ToolRun quiet = rx({dir.file("dongle.cu8"), "--rate", "2.4M", "-q", "-o", dir.file("quiet.wav")});
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(read_file(dir.file("quiet.wav")), read_file(dir.file("out.wav")));
}

TEST(RxKernel, KernelSourceIsAssembledWithTheOffsetAndDefinitions) {
  ScratchDir dir;
  const std::string capture = dir.file("capture.iq");
  ASSERT_EQ(run_tool(tool_path("kdsp-synth"),
                     {"--audio", "voice", "--offset", "-20000", "--duration", "1", "--seed", "2", capture})
                .status,
            0);
  write_file(dir.file("shift.kasm"), Bytes(SHIFTING_KERNEL_SOURCE.begin(), SHIFTING_KERNEL_SOURCE.end()));
  const ToolRun run = rx({capture, "--offset", "-20000", "--kernel", dir.file("shift.kasm"), "-D", "SHIFT_HZ=300", "-o",
                          dir.file("rx.wav")});
  ASSERT_EQ(run.status, 0) << run.err;
  const ToolRun assembled = run_tool(tool_path("kdsp-as"), {"-D", "OFFSET_HZ=-20000", "-DSHIFT_HZ=300",
                                                            dir.file("shift.kasm"), "-o", dir.file("shift.kdsp")});
  ASSERT_EQ(assembled.status, 0) << assembled.err;
  ASSERT_EQ(run_kdsp({capture, dir.file("shift.kdsp"), dir.file("kdsp.wav")}).status, 0);
  EXPECT_EQ(read_file(dir.file("rx.wav")), read_file(dir.file("kdsp.wav")));

  // The image itself runs the same; a source with a mistake is refused with
  // the assembler's diagnostic, and a kernel that fails names its result.
  const ToolRun image =
      rx({capture, "--offset", "-20000", "--kernel", dir.file("shift.kdsp"), "-o", dir.file("image.wav")});
  ASSERT_EQ(image.status, 0) << image.err;
  EXPECT_EQ(read_file(dir.file("image.wav")), read_file(dir.file("kdsp.wav")));
  const ToolRun undefined =
      rx({capture, "--offset", "-20000", "--kernel", dir.file("shift.kasm"), "-o", dir.file("u.wav")});
  EXPECT_EQ(undefined.status, 1);
  EXPECT_NE(undefined.err.find("shift.kasm:5:"), std::string::npos) << undefined.err;
  EXPECT_NE(undefined.err.find("undefined label 'SHIFT_HZ'"), std::string::npos) << undefined.err;
  const std::string silent = "GETIQ r2\nHALT\n";
  write_file(dir.file("silent.kasm"), Bytes(silent.begin(), silent.end()));
  const ToolRun no_output =
      rx({capture, "--offset", "0", "--kernel", dir.file("silent.kasm"), "-o", dir.file("s.wav")});
  EXPECT_EQ(no_output.status, 1);
  EXPECT_NE(no_output.err.find("NO_OUTPUT"), std::string::npos) << no_output.err;
  EXPECT_FALSE(file_exists(dir.file("u.wav")) || file_exists(dir.file("s.wav")));
}

TEST(RxFormats, RateSpellingsMeanTheSameRate) {
  ScratchDir dir;
  write_raw_recording(dir.file("r.cu8"), "cu8", tone_recording(2400000.0, 50000.0, 0.2));
  std::vector<std::uint8_t> first;
  for (const char* rate : {"2400000", "2.4M", "2.4e6", "2400kHz"}) {
    const ToolRun run = rx({dir.file("r.cu8"), "--rate", rate, "--offset", "50k", "-o", dir.file("out.wav")});
    ASSERT_EQ(run.status, 0) << rate << ": " << run.err;
    if (first.empty()) first = read_file(dir.file("out.wav"));
    EXPECT_EQ(read_file(dir.file("out.wav")), first) << rate;
  }
}

TEST(RxPieces, LongRecordingIsJoinedFromPiecesKdspWouldWrite) {
  // 65 s of speech at 96 000 pairs/s: three pieces, two joins.
  ScratchDir dir;
  SynthRecording recording;
  recording.sample_rate = 96000.0;
  recording.duration_s = 65.0;
  recording.channels.push_back({15000.0, 5000.0, 0.5, speech_audio("ve9qrp.raw")});
  ASSERT_FALSE(recording.channels[0].audio.samples.empty());
  recording.noise_rms = 0.005;
  write_raw_recording(dir.file("long.cs16"), "cs16", recording);

  const std::string pieces = dir.file("pieces");
  ASSERT_EQ(std::system(("mkdir " + pieces).c_str()), 0);
  const ToolRun one = rx({dir.file("long.cs16"), "--rate", "96k", "--offset", "15k", "-j", "1", "--keep-pieces", pieces,
                          "-o", dir.file("one.wav")});
  ASSERT_EQ(one.status, 0) << one.err;
  const ToolRun two =
      rx({dir.file("long.cs16"), "--rate", "96k", "--offset", "15k", "-j", "2", "-o", dir.file("two.wav")});
  ASSERT_EQ(two.status, 0) << two.err;
  const Bytes joined_bytes = read_file(dir.file("one.wav"));
  EXPECT_EQ(read_file(dir.file("two.wav")), joined_bytes);
  const std::vector<double> joined = wav_samples(joined_bytes);
  ASSERT_EQ(joined.size(), 65u * 48000u);

  // Every piece is what kdsp writes for its capture with the channel placed at 0 Hz.
  write_file(dir.file("zero.kdsp"), offset_kernel(0));
  ASSERT_EQ(run_kdsp({pieces + "/piece-002.iq", dir.file("zero.kdsp"), dir.file("kdsp-2.wav")}).status, 0);
  EXPECT_EQ(read_file(dir.file("kdsp-2.wav")), read_file(pieces + "/piece-002.wav"));
  EXPECT_FALSE(file_exists(pieces + "/piece-004.iq"));

  // Pieces start every 29 s (6 960 000 pairs) and switch in the middle of the
  // 1 s overlap. Around each switch the two pieces agree to within the
  // resampler's timing drift over a piece (far below a hundredth of a pair),
  // so the step at the join differs from the audio's own sample-to-sample
  // change by no more than that.
  const std::size_t step = 29 * 48000;
  for (int k = 1; k <= 2; ++k) {
    SCOPED_TRACE(k);
    const std::vector<double> before = wav_samples(read_file(pieces + "/piece-00" + std::to_string(k) + ".wav"));
    const std::vector<double> after = wav_samples(read_file(pieces + "/piece-00" + std::to_string(k + 1) + ".wav"));
    const std::size_t join = k * step + 24000;
    double difference = 0.0;
    double own_change = 0.0;
    for (std::size_t n = join - 4800; n < join + 4800; ++n) {
      const double earlier = before[n - (k - 1) * step];
      difference = std::max(difference, std::fabs(earlier - after[n - k * step]));
      own_change = std::max(own_change, std::fabs(earlier - before[n - 1 - (k - 1) * step]));
    }
    RecordProperty("overlap_difference_" + std::to_string(k), std::to_string(difference));
    EXPECT_LT(difference, 0.002);
    EXPECT_LT(difference, own_change / 20.0);
    EXPECT_EQ(joined[join - 1], before[join - 1 - (k - 1) * step]);
    EXPECT_EQ(joined[join], after[join - k * step]);
    const double natural_step = before[join - (k - 1) * step] - before[join - 1 - (k - 1) * step];
    EXPECT_LE(std::fabs((joined[join] - joined[join - 1]) - natural_step), difference);
  }

  // The whole is as faithful to the speech as a single 30 s piece.
  const std::vector<double> reference = band_limited_source(recording.channels[0].audio, 65.0);
  const std::vector<double> first_piece = wav_samples(read_file(pieces + "/piece-001.wav"));
  const double whole = correlation(reference, joined, 4800, joined.size() - 4800);
  const double piece = correlation(reference, first_piece, 4800, first_piece.size() - 4800);
  RecordProperty("correlation_whole", std::to_string(whole));
  RecordProperty("correlation_piece", std::to_string(piece));
  EXPECT_GT(whole, 0.95);
  EXPECT_NEAR(whole, piece, 0.005);
}

TEST(RxChannelWidth, NarrowChannelRejectsNeighboursTwelveAndAHalfKilohertzAway) {
  ScratchDir dir;
  SynthRecording recording;
  recording.sample_rate = 480000.0;
  recording.duration_s = 3.0;
  const ModulatingAudio speech = speech_audio("hts1a.raw");
  recording.channels.push_back({25000.0, 2500.0, 0.3, speech});
  recording.channels.push_back({12500.0, 2500.0, 0.3, tone_audio(700.0, 1.0, 1.0)});
  recording.channels.push_back({37500.0, 2500.0, 0.3, speech_audio("cq_ref.raw")});
  recording.noise_rms = 0.002;
  write_raw_recording(dir.file("band.cs16"), "cs16", recording);
  const std::vector<double> reference = band_limited_source(speech, 3.0);

  const ToolRun narrow = rx({dir.file("band.cs16"), "--rate", "480k", "--offset", "25k", "--bandwidth", "12.5k", "-o",
                             dir.file("narrow.wav")});
  ASSERT_EQ(narrow.status, 0) << narrow.err;
  const std::vector<double> audio = wav_samples(read_file(dir.file("narrow.wav")));
  const double narrow_correlation = correlation(reference, audio, 4800, audio.size() - 4800);
  const ToolRun wide = rx({dir.file("band.cs16"), "--rate", "480k", "--offset", "25k", "-o", dir.file("wide.wav")});
  ASSERT_EQ(wide.status, 0) << wide.err;
  const std::vector<double> mixed = wav_samples(read_file(dir.file("wide.wav")));
  const double wide_correlation = correlation(reference, mixed, 4800, mixed.size() - 4800);
  RecordProperty("correlation_12k5", std::to_string(narrow_correlation));
  RecordProperty("correlation_25k", std::to_string(wide_correlation));
  EXPECT_GE(narrow_correlation, 0.98);
  EXPECT_LT(wide_correlation, narrow_correlation);
}

TEST(RxErrors, EveryRefusalNamesTheFileTheCauseAndTheFix) {
  ScratchDir dir;
  write_raw_recording(dir.file("r.cu8"), "cu8", tone_recording(2400000.0, 0.0, 0.01));
  write_raw_recording(dir.file("r.bin"), "cu8", tone_recording(2400000.0, 0.0, 0.01));
  write_file(dir.file("odd.cs16"), Bytes(4001, 0));
  write_sigmf_recording(dir.file("odd"), "cf32_le", 1e8, tone_recording(240000.0, 0.0, 0.01));
  write_file(dir.file("odd.sigmf-meta"),
             Bytes{'{', '"', 'g', 'l', 'o', 'b', 'a', 'l', '"', ':', '{', '"', 'c', 'o', 'r', 'e', ':', 'd', 'a',
                   't', 'a', 't', 'y', 'p', 'e', '"', ':', '"', 'r', 'i', '1', '6', '_', 'l', 'e', '"', '}', '}'});
  write_sigmf_recording(dir.file("fm"), "ci8", 145.5e6, tone_recording(1000000.0, 0.0, 0.01));
  write_file(dir.file("out.wav"), Bytes{'o', 'l', 'd'});
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> says;
  };
  const Case cases[] = {
      {{dir.file("r.bin"), "--rate", "2.4M", "--offset", "0"}, {"r.bin", "cannot tell the format", "--format"}},
      {{dir.file("odd.cs16"), "--rate", "2.4M", "--offset", "0"},
       {"odd.cs16", "4001 bytes", "not a whole number of cs16 I/Q pairs", "--format"}},
      {{dir.file("odd.sigmf-data"), "--offset", "0"}, {"odd.sigmf-meta", "\"ri16_le\" is not supported", "ci16_le"}},
      {{dir.file("r.cu8"), "--offset", "0"}, {"r.cu8", "sample rate", "not known", "give --rate"}},
      {{dir.file("r.cu8"), "--rate", "-2.4M", "--offset", "0"}, {"--rate", "'-2.4M'", "from 1k to 1G", "2.4M"}},
      {{dir.file("r.cu8"), "--rate", "0", "--offset", "0"}, {"--rate", "'0'", "from 1k to 1G"}},
      {{dir.file("r.cu8"), "--rate", "2.4M", "--offset", "1.19M"},
       {"r.cu8", "outside the band", "-1187500 Hz to 1187500 Hz", "choose a channel"}},
      {{dir.file("fm.sigmf-meta"), "--freq", "146M"},
       {"fm.sigmf-meta", "146000000 Hz", "outside the band", "145012500 Hz to 145987500 Hz"}},
      {{dir.file("r.cu8"), "--rate", "2.4M", "--freq", "146M"}, {"r.cu8", "--freq needs the centre", "--center"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", dir.file("out.wav")});
    const ToolRun run = rx(args);
    SCOPED_TRACE(run.err);
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), run.status == 2 ? 2 : 1);
    for (const std::string& part : c.says) EXPECT_NE(run.err.find(part), std::string::npos) << part;
    EXPECT_EQ(read_file(dir.file("out.wav")), (Bytes{'o', 'l', 'd'}));
  }

  // A value that is not a number is refused as kdsp refuses it, whether it
  // passes straight to the core or through the front end.
  std::vector<std::complex<float>> pairs(48000, {0.5f, 0.0f});
  pairs[30000] = {std::nanf(""), 0.0f};
  write_pairs(dir.file("nan.iq"), pairs);
  write_pairs(dir.file("nan.cf32"), pairs);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{dir.file("nan.iq"), "--offset", "0"},
        std::vector<std::string>{dir.file("nan.cf32"), "--rate", "480k", "--offset", "0"}}) {
    std::vector<std::string> with_output = args;
    with_output.insert(with_output.end(), {"-o", dir.file("out.wav")});
    const ToolRun run = rx(with_output);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("not a finite number"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(args[0]), std::string::npos) << run.err;
    EXPECT_EQ(read_file(dir.file("out.wav")), (Bytes{'o', 'l', 'd'}));
  }

  // An output that cannot be written leaves nothing behind.
  const ToolRun unwritable =
      rx({dir.file("r.cu8"), "--rate", "2.4M", "--offset", "0", "-o", dir.file("missing/out.wav")});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("missing/out.wav' could not be written"), std::string::npos) << unwritable.err;
  // The audio goes out as it is joined: a device that refuses it fails the
  // run with the same line, whether the audio is streamed or held for
  // --normalize.
  for (const bool whole_first : {false, true}) {
    std::vector<std::string> args = {dir.file("r.cu8"), "--rate", "2.4M", "--offset", "0", "-o", "/dev/full"};
    if (whole_first) args.push_back("--normalize");
    const ToolRun full = rx(args);
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("'/dev/full' could not be written"), std::string::npos) << full.err;
  }
}

}  // namespace kdsp

namespace kdsp {

TEST(RxAfterDemod, DeemphasisAndNormalizeShapeTheAudioOnlyWhenAskedFor) {
  ScratchDir dir;
  const std::string capture = dir.file("tone.iq");
  ASSERT_EQ(run_tool(tool_path("kdsp-synth"), {"--audio", "tone:1000", "--offset", "25000", "--deviation", "2500",
                                               "--cnr", "40", "--duration", "1", capture})
                .status,
            0);
  const auto receive = [&](std::vector<std::string> extra, const std::string& name) {
    std::vector<std::string> args = {capture, "--offset", "25k", "-o", dir.file(name)};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun run = rx(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return wav_samples(read_file(dir.file(name)));
  };
  const std::vector<double> plain = receive({}, "plain.wav");
  const std::vector<double> soft = receive({"--deemphasis", "750"}, "soft.wav");
  const std::vector<double> loud = receive({"--normalize"}, "loud.wav");
  ASSERT_EQ(soft.size(), plain.size());
  ASSERT_EQ(loud.size(), plain.size());
  const auto amplitude = [](const std::vector<double>& audio) {
    return tone_amplitude(audio, 48000, 1000.0, 4800, audio.size() - 4800);
  };
  // A one-pole de-emphasis of 750 us passes 1 kHz at 1 / sqrt(1 + (2 pi 1000 750e-6)^2).
  const double expected = 1.0 / std::sqrt(1.0 + std::pow(TWO_PI * 1000.0 * 750e-6, 2.0));
  EXPECT_NEAR(amplitude(soft) / amplitude(plain), expected, 0.01);
  // Normalizing brings the peak to -1 dB of full scale and scales all alike.
  double peak = 0.0;
  for (double sample : loud) peak = std::max(peak, std::fabs(sample));
  EXPECT_NEAR(peak, 0.8912509, 1.0 / 32767.0);
  double plain_peak = 0.0;
  for (double sample : plain) plain_peak = std::max(plain_peak, std::fabs(sample));
  EXPECT_NEAR(amplitude(loud) / amplitude(plain), peak / plain_peak, 0.002);
  EXPECT_EQ(rx({capture, "--offset", "0", "--deemphasis", "0", "-o", dir.file("x.wav")}).status, 2);
}

}  // namespace kdsp

namespace kdsp {

TEST(RxRates, DecimationCascadeKeepsTheChannelInPlaceAtOddRates) {
  // Rates whose first stage decimates by 1, 4, 20 and 41 (to a rate that is
  // not a whole number), each with speech far from the centre: the audio
  // must be the speech, on time to the sample, at the core's gain.
  const ModulatingAudio speech = speech_audio("hts1a.raw");
  if (speech.samples.empty()) GTEST_SKIP() << "codec2-examples is not installed";
  constexpr double DURATION_S = 0.4;
  const std::vector<double> reference = band_limited_source(speech, DURATION_S);
  for (const double rate : {96000.0, 2048000.0, 10000000.0, 20000000.0}) {
    SCOPED_TRACE(std::to_string(rate));
    ScratchDir dir;
    SynthRecording recording;
    recording.sample_rate = rate;
    recording.duration_s = DURATION_S;
    const double offset_hz = std::round(0.3 * rate);
    recording.channels.push_back({offset_hz, 2500.0, 0.5, speech});
    recording.channels.push_back({-offset_hz / 2.0, 2500.0, 0.5, tone_audio(1000.0, 1.0, 1.0)});
    recording.noise_rms = 0.005;
    write_raw_recording(dir.file("r.cs16"), "cs16", recording);
    const ToolRun run = rx({dir.file("r.cs16"), "--rate", std::to_string(static_cast<long>(rate)), "--offset",
                            std::to_string(static_cast<long>(offset_hz)), "-o", dir.file("out.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<double> audio = wav_samples(read_file(dir.file("out.wav")));
    ASSERT_EQ(audio.size(), static_cast<std::size_t>(DURATION_S * 48000));
    EXPECT_GE(correlation(reference, audio, 4800, audio.size() - 4800, 0), 0.97);
  }
}

}  // namespace kdsp
