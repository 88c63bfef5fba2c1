// kdsp-rx --all on recordings kdsp-synth keys channel by channel: every
// transmission found with its channel and times against the truth, nothing
// found in noise alone, each WAV the bytes kdsp writes for the capture
// kdsp-rx placed, the same files for any -j, a transmission longer than a
// piece joined whole, and --squelch's digital silence for one channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/kernel_words.h"
#include "support/tone.h"
#include "tools/json_file.h"
#include "tools/tool_process.h"

namespace kdsp {

namespace {

using Json = nlohmann::json;

ToolRun rx(const std::vector<std::string>& args) { return run_tool(tool_path("kdsp-rx"), args); }
ToolRun synth(const std::vector<std::string>& args) { return run_tool(tool_path("kdsp-synth"), args); }

// Every regular file of a directory by name, with its bytes.
std::map<std::string, Bytes> directory_files(const std::string& dir) {
  std::map<std::string, Bytes> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    files[entry.path().filename().string()] = read_file(entry.path().string());
  }
  return files;
}

Bytes offset_kernel(std::int32_t offset_hz) {
  const auto bits = static_cast<std::uint32_t>(offset_hz);
  return kernel_file({words::getiq(2), words::ld(4, 0, 0), words::fmdemod(3, 2, 4), words::addi(1, 3, 0), words::emit(),
                      words::halt()},
                     {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                      static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)});
}

struct Matching {
  std::size_t missed = 0;
  std::size_t invented = 0;
};

// Pairs truth and record: the same channel within 1 kHz, start and end
// within 0.3 s.
Matching match_record(const Json& truth, const Json& record, double centre_hz) {
  Matching result;
  std::vector<bool> used(record.size(), false);
  for (const Json& sent : truth) {
    bool found = false;
    for (std::size_t r = 0; r < record.size() && !found; ++r) {
      const Json& heard = record[r];
      if (used[r] || std::fabs(heard["offset_hz"].get<double>() - sent["offset_hz"].get<double>()) > 1000.0 ||
          std::fabs(heard["start_s"].get<double>() - sent["start_s"].get<double>()) > 0.3 ||
          std::fabs(heard["end_s"].get<double>() - sent["end_s"].get<double>()) > 0.3) {
        continue;
      }
      EXPECT_NEAR(heard["frequency_hz"].get<double>(), centre_hz + heard["offset_hz"].get<double>(), 0.5);
      used[r] = found = true;
    }
    if (!found) ++result.missed;
  }
  result.invented = static_cast<std::size_t>(std::count(used.begin(), used.end(), false));
  return result;
}

}  // namespace

TEST(RxAll, EveryKeyedTransmissionIsFoundOnceWithItsChannelAndTimes) {
  // Four channels on a 25 kHz raster at 480 000 pairs/s (the filter bank's
  // path), keyed at random with real speech for 20 s.
  ScratchDir dir;
  const std::string recording = dir.file("band.cu8");
  const ToolRun made = synth({"--keyed", "4", "--rate", "480k", "--duration", "20", "--cnr", "25", "--deviation",
                              "2500", "--seed", "11", "--truth", dir.file("truth.json"), recording});
  ASSERT_EQ(made.status, 0) << made.err;
  const Json truth = read_json(dir.file("truth.json"));
  ASSERT_GE(truth.size(), 6u);

  const std::string one = dir.file("one");
  const std::string pieces = dir.file("pieces");
  std::filesystem::create_directory(pieces);
  const ToolRun run = rx({"--all", recording, "--rate", "480k", "--center", "145.5M", "--raster", "25k", "--csv", "-j",
                          "1", "--keep-pieces", pieces, "-O", one});
  ASSERT_EQ(run.status, 0) << run.err;
  const Json record = read_json(one + "/transmissions.json");
  ASSERT_TRUE(record.is_array());
  const Matching matching = match_record(truth, record, 145.5e6);
  RecordProperty("transmissions", std::to_string(truth.size()));
  RecordProperty("missed", std::to_string(matching.missed));
  RecordProperty("invented", std::to_string(matching.invented));
  EXPECT_LE(20 * matching.missed, truth.size()) << record.dump(1);
  EXPECT_LE(20 * matching.invented, record.size()) << record.dump(1);

  // The record is in order of start and names files that are there; the CSV
  // holds the same rows.
  for (std::size_t r = 0; r < record.size(); ++r) {
    if (r > 0) {
      EXPECT_LE(record[r - 1]["start_s"].get<double>(), record[r]["start_s"].get<double>());
    }
    EXPECT_TRUE(file_exists(one + "/" + record[r]["file"].get<std::string>())) << record[r].dump();
    EXPECT_GT(record[r]["level_db"].get<double>(), 20.0);
  }
  const Bytes csv = read_file(one + "/transmissions.csv");
  EXPECT_EQ(static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n')), record.size() + 1);

  // Each WAV is what kdsp writes for the capture kdsp-rx placed: the
  // channel at its offset from the nearest of the bank's bins, which lie
  // 120 kHz apart at this rate.
  ASSERT_FALSE(record.empty());
  const std::string first = record[0]["file"].get<std::string>();
  const std::string stem = pieces + "/" + first.substr(0, first.size() - 4) + ".piece-001";
  const double offset = record[0]["offset_hz"].get<double>();
  const auto placed = static_cast<std::int32_t>(std::lround(offset - 120000.0 * std::round(offset / 120000.0)));
  write_file(dir.file("placed.kdsp"), offset_kernel(placed));
  ASSERT_EQ(run_kdsp({stem + ".iq", dir.file("placed.kdsp"), dir.file("kdsp.wav")}).status, 0);
  EXPECT_EQ(read_file(dir.file("kdsp.wav")), read_file(one + "/" + first));

  // Two threads write the same files.
  const ToolRun two = rx({"--all", recording, "--rate", "480k", "--center", "145.5M", "--raster", "25k", "--csv", "-j",
                          "2", "-O", dir.file("two")});
  ASSERT_EQ(two.status, 0) << two.err;
  EXPECT_EQ(directory_files(dir.file("two")), directory_files(one));

  // Again into the same directory: refused unless --force, nothing changed.
  const ToolRun again = rx({"--all", recording, "--rate", "480k", "-O", one});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("transmissions.json' is already there"), std::string::npos) << again.err;
  EXPECT_NE(again.err.find("--force"), std::string::npos) << again.err;
}

TEST(RxAll, NoiseAloneGivesAnEmptyRecord) {
  ScratchDir dir;
  const std::string recording = dir.file("noise.cs16");
  // The one channel is keyed only after the recording ends.
  ASSERT_EQ(synth({"--keyed-channels", "50k", "--key", "1:20-21", "--rate", "480k", "--duration", "6", "--cnr", "20",
                   recording})
                .status,
            0);
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{}, std::vector<std::string>{"--channels", "50k,-25k"}}) {
    std::vector<std::string> args = {"--all", recording, "--rate", "480k", "-O", dir.file("out"), "--force"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun run = rx(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_json(dir.file("out/transmissions.json")), Json::array());
    EXPECT_EQ(directory_files(dir.file("out")).size(), 2u);  // the record and skipped.json
  }
}

TEST(RxAll, TransmissionLongerThanAPieceComesOutWholeAndExact) {
  // At the core's own rate: a 33 s transmission across the recording's 30 s
  // mark, and a short one beside it.
  ScratchDir dir;
  const std::string recording = dir.file("long.cu8");
  ASSERT_EQ(synth({"--keyed-channels", "25k,-50k", "--key", "1:1-34", "--key", "2:3-6", "--rate", "240k", "--duration",
                   "35", "--cnr", "25", "--deviation", "2500", recording})
                .status,
            0);
  const std::string pieces = dir.file("pieces");
  std::filesystem::create_directory(pieces);
  const ToolRun run = rx(
      {"--all", recording, "--rate", "240k", "--channels", "25k,-50k", "--keep-pieces", pieces, "-O", dir.file("out")});
  ASSERT_EQ(run.status, 0) << run.err;
  const Json record = read_json(dir.file("out/transmissions.json"));
  ASSERT_EQ(record.size(), 2u) << record.dump(1);
  const Json& longest = record[0];
  EXPECT_EQ(longest["offset_hz"].get<double>(), 25000.0);
  EXPECT_EQ(longest["frequency_hz"], nullptr);
  EXPECT_NEAR(longest["start_s"].get<double>(), 1.0, 0.3);
  EXPECT_NEAR(longest["end_s"].get<double>(), 34.0, 0.3);
  const std::string name = longest["file"].get<std::string>();
  EXPECT_EQ(name.substr(0, 9), "+25000Hz_");
  // Whole: from the pre-roll before the start to the post-roll after the end,
  // with speech in every second of it.
  const std::vector<double> audio = wav_samples(read_file(dir.file("out/" + name)));
  const double seconds = static_cast<double>(audio.size()) / 48000.0;
  EXPECT_NEAR(seconds, longest["end_s"].get<double>() - longest["start_s"].get<double>() + 0.4, 0.01);
  for (std::size_t second = 1; second + 1 < static_cast<std::size_t>(seconds); ++second) {
    double energy = 0.0;
    for (std::size_t n = second * 48000; n < (second + 1) * 48000; ++n) energy += audio[n] * audio[n];
    EXPECT_GT(energy, 0.0) << second;
  }
  // Its second piece, and the short transmission's only one, are kdsp's
  // bytes for the captures kdsp-rx placed (the recording's own pairs, the
  // channel at its offset): the six-word kernel and its -50 kHz twin.
  const std::string stem = pieces + "/" + name.substr(0, name.size() - 4);
  write_file(dir.file("six.kdsp"), kernel_file(words::SIX_WORD_KERNEL));
  ASSERT_EQ(run_kdsp({stem + ".piece-002.iq", dir.file("six.kdsp"), dir.file("second.wav")}).status, 0);
  EXPECT_EQ(read_file(dir.file("second.wav")), read_file(stem + ".piece-002.wav"));
  EXPECT_FALSE(file_exists(stem + ".piece-003.iq"));
  const std::string short_name = record[1]["file"].get<std::string>();
  write_file(dir.file("low.kdsp"), offset_kernel(-50000));
  ASSERT_EQ(run_kdsp({pieces + "/" + short_name.substr(0, short_name.size() - 4) + ".piece-001.iq",
                      dir.file("low.kdsp"), dir.file("short.wav")})
                .status,
            0);
  EXPECT_EQ(read_file(dir.file("short.wav")), read_file(dir.file("out/" + short_name)));
}

TEST(RxAll, KernelSourceRunsOnEveryTransmissionWithItsChannelsPlacedOffset) {
  // One transmission at +50 kHz, which lies 50 kHz from the bank's nearest
  // bin at 480 000 pairs/s.
  ScratchDir dir;
  const std::string recording = dir.file("band.cu8");
  ASSERT_EQ(synth({"--keyed-channels", "50k", "--key", "1:1-3", "--rate", "480k", "--duration", "4", "--cnr", "25",
                   recording})
                .status,
            0);
  write_file(dir.file("shift.kasm"), Bytes(SHIFTING_KERNEL_SOURCE.begin(), SHIFTING_KERNEL_SOURCE.end()));
  const std::string pieces = dir.file("pieces");
  std::filesystem::create_directory(pieces);
  const ToolRun run = rx({"--all", recording, "--rate", "480k", "--channels", "50k", "--kernel", dir.file("shift.kasm"),
                          "-D", "SHIFT_HZ=300", "--keep-pieces", pieces, "-O", dir.file("out")});
  ASSERT_EQ(run.status, 0) << run.err;
  const Json record = read_json(dir.file("out/transmissions.json"));
  ASSERT_EQ(record.size(), 1u) << record.dump(1);
  const std::string name = record[0]["file"].get<std::string>();
  const ToolRun assembled = run_tool(tool_path("kdsp-as"), {"-D", "OFFSET_HZ=50000", "-DSHIFT_HZ=300",
                                                            dir.file("shift.kasm"), "-o", dir.file("shift.kdsp")});
  ASSERT_EQ(assembled.status, 0) << assembled.err;
  ASSERT_EQ(run_kdsp({pieces + "/" + name.substr(0, name.size() - 4) + ".piece-001.iq", dir.file("shift.kdsp"),
                      dir.file("kdsp.wav")})
                .status,
            0);
  EXPECT_EQ(read_file(dir.file("kdsp.wav")), read_file(dir.file("out/" + name)));

  // A source with a mistake stops the run before any work, with the
  // assembler's diagnostic; a kernel that emits nothing names the cause.
  const ToolRun undefined =
      rx({"--all", recording, "--rate", "480k", "--kernel", dir.file("shift.kasm"), "-O", dir.file("u")});
  EXPECT_EQ(undefined.status, 1);
  EXPECT_NE(undefined.err.find("shift.kasm:5:"), std::string::npos) << undefined.err;
  EXPECT_FALSE(file_exists(dir.file("u/transmissions.json")));
  const std::string silent = "GETIQ r2\nHALT\n";
  write_file(dir.file("silent.kasm"), Bytes(silent.begin(), silent.end()));
  const ToolRun no_output =
      rx({"--all", recording, "--rate", "480k", "--kernel", dir.file("silent.kasm"), "-O", dir.file("s")});
  EXPECT_EQ(no_output.status, 1);
  EXPECT_NE(no_output.err.find("NO_OUTPUT"), std::string::npos) << no_output.err;
}

TEST(RxAll, NeighboursTwelveAndAHalfKilohertzApartDoNotBleedIntoEachOther) {
  // Channel 1 keyed alone, and again with channel 2 (12.5 kHz above, as
  // strong) keyed over most of it: channel 1's audio must stay the same.
  ScratchDir dir;
  for (const char* name : {"alone", "both"}) {
    std::vector<std::string> args = {"--keyed-channels", "50k,62.5k", "--key", "1:0.5-3.5", "--rate",      "480k",
                                     "--duration",       "4",         "--cnr", "30",        "--deviation", "2500"};
    if (std::string(name) == "both") args.insert(args.end(), {"--key", "2:1-3.8"});
    args.push_back(dir.file(std::string(name) + ".cu8"));
    ASSERT_EQ(synth(args).status, 0);
  }
  std::map<std::string, std::vector<double>> audio;
  for (const char* name : {"alone", "both"}) {
    const std::string pieces = dir.file(std::string(name) + "-pieces");
    std::filesystem::create_directory(pieces);
    const std::string out = dir.file(std::string(name) + "-out");
    const ToolRun run = rx({"--all", dir.file(std::string(name) + ".cu8"), "--rate", "480k", "--channels", "50k,62.5k",
                            "--keep-pieces", pieces, "-O", out});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("each filtered to 12500 Hz"), std::string::npos) << run.err;
    const Json record = read_json(out + "/transmissions.json");
    ASSERT_FALSE(record.empty());
    const std::string first = record[0]["file"].get<std::string>();
    ASSERT_EQ(first.substr(0, 8), "+50000Hz");
    audio[name] = wav_samples(read_file(out + "/" + first));
    // The filtered capture is still the one kdsp turns into that WAV.
    write_file(dir.file("k.kdsp"), offset_kernel(50000));
    ASSERT_EQ(run_kdsp({pieces + "/" + first.substr(0, first.size() - 4) + ".piece-001.iq", dir.file("k.kdsp"),
                        dir.file("k.wav")})
                  .status,
              0);
    EXPECT_EQ(read_file(dir.file("k.wav")), read_file(out + "/" + first));
  }
  ASSERT_EQ(audio["alone"].size(), audio["both"].size());
  // Where both are keyed (1.0 to 3.5 s of the recording; the WAV starts at
  // about 0.3 s), channel 2 stays 30 dB below channel 1's audio.
  double signal = 0.0;
  double leak = 0.0;
  for (std::size_t n = 48000; n < 144000; ++n) {
    signal += audio["alone"][n] * audio["alone"][n];
    leak += (audio["both"][n] - audio["alone"][n]) * (audio["both"][n] - audio["alone"][n]);
  }
  const double leak_db = 10.0 * std::log10(leak / signal);
  RecordProperty("neighbour_leak_db", std::to_string(leak_db));
  EXPECT_LT(leak_db, -30.0);
}

TEST(RxAll, RefusalsNameTheCause) {
  ScratchDir dir;
  const std::string recording = dir.file("r.cu8");
  ASSERT_EQ(synth({"--keyed-channels", "50k", "--rate", "480k", "--duration", "1", recording}).status, 0);
  write_file(dir.file("plain"), Bytes{'x'});
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {{"--all", recording, "--rate", "480k"}, 2, "-O DIR"},
      {{"--all", recording, "--rate", "480k", "--offset", "50k", "-O", dir.file("o")}, 2, "--offset is for one"},
      {{"--all", recording, "--rate", "480k", "-D", "A=1", "-O", dir.file("o")}, 2, "give --kernel"},
      {{recording, "--rate", "480k", "--raster", "25k", "-o", dir.file("x.wav")}, 2, "--raster goes with --all"},
      {{"--all", recording, "--rate", "480k", "-O", dir.file("plain")}, 1, "is not a directory"},
      {{"--all", recording, "--rate", "480k", "--channels", "145.5M", "-O", dir.file("o")}, 1, "--center"},
      {{"--all", recording, "--rate", "480k", "--channels", "235k", "-O", dir.file("o")}, 1, "outside the band"},
  };
  for (const Case& c : cases) {
    const ToolRun run = rx(c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
  }
}

TEST(RxSquelch, MutesTheChannelToDigitalSilenceWhereItIsNotKeyed) {
  ScratchDir dir;
  const std::string recording = dir.file("keyed.cf32");
  ASSERT_EQ(synth({"--keyed-channels", "25k", "--key", "1:1-3", "--rate", "240k", "--duration", "4", "--cnr", "20",
                   recording})
                .status,
            0);
  const auto receive = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {recording, "--rate", "240k", "-o", dir.file("out.wav"), "-q"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun run = rx(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return wav_samples(read_file(dir.file("out.wav")));
  };
  const auto silent = [](const std::vector<double>& audio, double from_s, double to_s) {
    return std::all_of(audio.begin() + static_cast<std::ptrdiff_t>(from_s * 48000),
                       audio.begin() + static_cast<std::ptrdiff_t>(to_s * 48000), [](double v) { return v == 0.0; });
  };
  const std::vector<double> plain = receive({"--offset", "25k"});
  EXPECT_FALSE(silent(plain, 0.0, 0.9));  // noise, full scale
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{"--offset", "25k", "--squelch", "6"},
        std::vector<std::string>{"--offset", "25k", "--squelch", "6", "--bandwidth", "12.5k"}}) {
    const std::vector<double> muted = receive(extra);
    ASSERT_EQ(muted.size(), plain.size());
    EXPECT_TRUE(silent(muted, 0.0, 0.9));
    EXPECT_TRUE(silent(muted, 3.5, 4.0));
    EXPECT_FALSE(silent(muted, 1.2, 1.4));
    // Where it is open, it is the core's own audio.
    if (extra.size() == 4) {
      EXPECT_TRUE(std::equal(muted.begin() + 60000, muted.begin() + 130000, plain.begin() + 60000));
    }
  }
  // An empty channel is silence from end to end.
  const std::vector<double> empty = receive({"--offset", "-50k", "--squelch", "6"});
  EXPECT_TRUE(silent(empty, 0.0, 4.0));
}

}  // namespace kdsp
