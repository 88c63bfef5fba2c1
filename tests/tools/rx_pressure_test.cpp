// kdsp-rx and kdsp-scan under the inputs and mistakes that broke them: a
// recording that holds no signal at all (zeros, a constant, a dropout in
// the middle), channels that are one after rounding, SigMF metadata with
// values out of range, outputs that would replace an input, folders that
// would make a run refuse after its work.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "tools/json_file.h"
#include "tools/tool_process.h"

namespace kdsp {

namespace {

using Json = nlohmann::json;

ToolRun rx(const std::vector<std::string>& args) { return run_tool(tool_path("kdsp-rx"), args); }
ToolRun scan(const std::vector<std::string>& args) { return run_tool(tool_path("kdsp-scan"), args); }
ToolRun synth(const std::vector<std::string>& args) { return run_tool(tool_path("kdsp-synth"), args); }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::size_t file_count(const std::string& dir) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) count += entry.is_regular_file() ? 1 : 0;
  return count;
}

// A keyed cu8 band: 4 channels on 25 kHz at 480 000 pairs/s for 12 s.
std::string keyed_band(const ScratchDir& dir) {
  const std::string path = dir.file("band.cu8");
  const ToolRun made = synth({"--keyed", "4", "--rate", "480k", "--duration", "12", "--cnr", "25", "--deviation",
                              "2500", "--seed", "3", "--truth", dir.file("truth.json"), path});
  EXPECT_EQ(made.status, 0) << made.err;
  return path;
}

}  // namespace

TEST(RxDropouts, ARecordingOfOneRepeatedPairListsNoChannelAndOpensNothing) {
  ScratchDir dir;
  for (const Bytes& pair : {Bytes{0, 0}, Bytes{127, 130}, Bytes{255, 255}}) {
    Bytes recording;
    for (int i = 0; i < 480000; ++i) recording.insert(recording.end(), pair.begin(), pair.end());
    write_file(dir.file("flat.cu8"), recording);

    const ToolRun scanned = scan({"--rate", "480k", dir.file("flat.cu8")});
    EXPECT_EQ(scanned.status, 0) << scanned.err;
    EXPECT_TRUE(contains(scanned.out, "# no signal from 0.0 s to 1.0 s")) << scanned.out;
    EXPECT_TRUE(parse_scan_report(scanned.out).empty()) << scanned.out;

    const ToolRun strongest = rx({dir.file("flat.cu8"), "--rate", "480k", "-o", dir.file("x.wav")});
    EXPECT_EQ(strongest.status, 1);
    EXPECT_TRUE(contains(strongest.err, "holds no signal")) << strongest.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.wav")));

    std::filesystem::remove_all(dir.file("all"));
    const ToolRun all = rx({"--all", dir.file("flat.cu8"), "--rate", "480k", "-O", dir.file("all")});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_TRUE(contains(all.err, "0 channels found: no signal")) << all.err;
    EXPECT_EQ(read_json(dir.file("all/transmissions.json")), Json::array());
    EXPECT_EQ(file_count(dir.file("all")), 2u);  // the record and skipped.json
  }
}

TEST(RxDropouts, ADropoutInsideARecordingIsSaidOnceAndCutsWhatWasOpen) {
  ScratchDir dir;
  const std::string band = keyed_band(dir);
  Bytes bytes = read_file(band);
  const std::size_t from = 2 * 480000 * 5;
  const std::size_t to = 2 * 480000 * 7;
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to), 0);
  write_file(dir.file("gap.cu8"), bytes);
  const ToolRun all = rx({"--all", dir.file("gap.cu8"), "--rate", "480k", "-O", dir.file("all"), "-j", "2"});
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_TRUE(contains(all.err, "no signal from 5.0 s to 7.0 s")) << all.err;
  // Nothing is heard in the dropout: no transmission starts or runs
  // through it.
  for (const Json& heard : read_json(dir.file("all/transmissions.json"))) {
    const double start = heard["start_s"].get<double>();
    const double end = heard["end_s"].get<double>();
    EXPECT_FALSE(start < 7.0 && end > 5.1) << heard.dump();
  }
}

TEST(RxPressure, ChannelsThatAreOneAfterRoundingAreOneChannel) {
  ScratchDir dir;
  const std::string band = keyed_band(dir);
  const Json truth = read_json(dir.file("truth.json"));
  const double offset = truth[0]["offset_hz"].get<double>();
  const std::string same = std::to_string(offset) + "," + std::to_string(offset + 0.4) + "," +
                           std::to_string(offset - 0.3);
  const ToolRun all = rx({"--all", band, "--rate", "480k", "--channels", same, "-O", dir.file("all")});
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_TRUE(contains(all.err, "1 channel:")) << all.err;
  const Json record = read_json(dir.file("all/transmissions.json"));
  ASSERT_FALSE(record.empty());
  EXPECT_EQ(file_count(dir.file("all")), record.size() + 2);
}

TEST(RxPressure, SigmfValuesOutOfRangeAreRefusedByName) {
  ScratchDir dir;
  write_file(dir.file("pass.sigmf-data"), Bytes(2 * 48000, 128));
  const struct {
    const char* global;
    const char* capture;
    const char* named;
  } cases[] = {
      {R"("core:datatype": "cu8", "core:sample_rate": 48000)", R"("core:frequency": 1e308)", "core:frequency"},
      {R"("core:datatype": "cu8", "core:sample_rate": 48000)", R"("core:frequency": "145.5M")", "core:frequency"},
      {R"("core:datatype": "cu8", "core:sample_rate": 1e12)", R"("core:frequency": 145500000)", "core:sample_rate"},
  };
  for (const auto& c : cases) {
    const std::string meta = std::string(R"({"global": {)") + c.global + R"(}, "captures": [{"core:sample_start": 0, )" +
                             c.capture + "}]}";
    write_file(dir.file("pass.sigmf-meta"), Bytes(meta.begin(), meta.end()));
    const ToolRun run = rx({"--all", dir.file("pass.sigmf-meta"), "-O", dir.file("out")});
    EXPECT_EQ(run.status, 1) << c.named;
    EXPECT_TRUE(contains(run.err, c.named)) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("out"))) << c.named;
  }
  // Metadata far larger than any: said so, not "cannot be read".
  write_file(dir.file("pass.sigmf-meta"), Bytes((16u << 20) + 1, ' '));
  const ToolRun big = rx({dir.file("pass.sigmf-meta"), "--offset", "0", "-o", dir.file("x.wav")});
  EXPECT_EQ(big.status, 1);
  EXPECT_TRUE(contains(big.err, "too large")) << big.err;
}

TEST(RxPressure, AnOutputThatIsAnInputIsRefusedBeforeAnyWork) {
  ScratchDir dir;
  const std::string band = keyed_band(dir);
  const Bytes before = read_file(band);
  std::filesystem::create_symlink(band, dir.file("link.cu8"));
  for (const std::string& output : {band, dir.file("link.cu8"), dir.file("./band.cu8")}) {
    const ToolRun run = rx({band, "--rate", "480k", "--offset", "0", "-o", output});
    EXPECT_EQ(run.status, 1) << output;
    EXPECT_TRUE(contains(run.err, "is the recording itself")) << run.err;
  }
  const ToolRun picture = scan({"--rate", "480k", "--png", dir.file("link.cu8"), band});
  EXPECT_EQ(picture.status, 1);
  EXPECT_TRUE(contains(picture.err, "is the recording itself")) << picture.err;
  EXPECT_EQ(read_file(band), before);
}

TEST(RxPressure, WhatWouldRefuseAfterTheWorkRefusesBeforeIt) {
  ScratchDir dir;
  const std::string band = keyed_band(dir);
  // A folder left by a run that stopped before its record.
  std::filesystem::create_directory(dir.file("all"));
  write_file(dir.file("all/+25000Hz_1.000s.wav"), Bytes{1, 2, 3});
  const ToolRun again = rx({"--all", band, "--rate", "480k", "-O", dir.file("all")});
  EXPECT_EQ(again.status, 1);
  EXPECT_TRUE(contains(again.err, "already holds transmissions")) << again.err;
  EXPECT_EQ(read_file(dir.file("all/+25000Hz_1.000s.wav")), (Bytes{1, 2, 3}));

  // --keep-pieces: a folder that is missing, or holds files, is refused at
  // once; with --force its files may be replaced.
  const ToolRun missing = rx({band, "--rate", "480k", "--offset", "0", "--keep-pieces", dir.file("none"), "-o",
                              dir.file("x.wav")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(contains(missing.err, "is not a directory")) << missing.err;
  std::filesystem::create_directory(dir.file("pieces"));
  write_file(dir.file("pieces/piece-001.iq"), Bytes{9});
  const ToolRun held = rx({band, "--rate", "480k", "--offset", "0", "--keep-pieces", dir.file("pieces"), "-o",
                           dir.file("x.wav")});
  EXPECT_EQ(held.status, 1);
  EXPECT_TRUE(contains(held.err, "already holds files")) << held.err;
  EXPECT_EQ(read_file(dir.file("pieces/piece-001.iq")), Bytes{9});
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.wav")));
  const ToolRun forced = rx({band, "--rate", "480k", "--offset", "0", "--keep-pieces", dir.file("pieces"), "--force",
                             "-o", dir.file("x.wav")});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_NE(read_file(dir.file("pieces/piece-001.iq")), Bytes{9});
}

TEST(RxPressure, ARateKdspCannotUseIsAUsageErrorWhateverItsValue) {
  ScratchDir dir;
  write_file(dir.file("x.cu8"), Bytes(4800, 128));
  for (const char* rate : {"0", "-1", "500", "2e9", "1e12"}) {
    const ToolRun run = rx({dir.file("x.cu8"), "--rate", rate, "--offset", "0", "-o", dir.file("x.wav")});
    EXPECT_EQ(run.status, 2) << rate << ": " << run.err;
  }
}

}  // namespace kdsp
