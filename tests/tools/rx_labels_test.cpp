// Every transmission says when, who and what: absolute times from whatever
// says when a recording began (SigMF metadata, an .sdriq header, a
// recorder's file name, --start-time), labels and tones from a channel plan,
// the sub-audible tone heard, the filters (--tone, the shortest and longest
// lengths, a strong neighbour's skirt) with what they dropped in
// skipped.json, and names from a template.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "radio/meta/sdriq_header.h"
#include "radio/meta/utc_time.h"
#include "tools/json_file.h"
#include "tools/tool_process.h"

namespace kdsp {

namespace {

using Json = nlohmann::json;

ToolRun rx(const std::vector<std::string>& args) { return run_tool(tool_path("kdsp-rx"), args); }
ToolRun synth(const std::vector<std::string>& args) { return run_tool(tool_path("kdsp-synth"), args); }

double utc_seconds(const std::string& text) {
  UtcTime time;
  Failure failure;
  EXPECT_EQ(parse_utc_time(text, &time, &failure), 0) << failure;
  return static_cast<double>(time.seconds) + time.nanoseconds * 1e-9;
}

constexpr double START_S = 1796792893.0;  // 2026-12-09T05:08:13Z
constexpr const char* START_TEXT = "2026-12-09T05:08:13Z";

// Four channels on 25 kHz at 480 000 pairs/s, each keyed with its own tone
// (two CTCSS, two DCS), 16 s of real speech.
void keyed_band(const ScratchDir& dir, const std::string& name, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {"--keyed",  "4",      "--rate",   "480k",  "--duration", "16",
                                   "--cnr",    "25",     "--seed",   "11",    "--deviation", "2500",
                                   "--center", "145.5M", "--ctcss",  "100.0,88.5", "--dcs", "023,754",
                                   "--truth",  dir.file(name + ".truth.json")};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(dir.file(name));
  const ToolRun made = synth(args);
  ASSERT_EQ(made.status, 0) << made.err;
}

// The truth's transmission at the record entry's channel and time, or null.
const Json* sent_for(const Json& truth, const Json& heard) {
  for (const Json& sent : truth) {
    if (std::fabs(sent["offset_hz"].get<double>() - heard["offset_hz"].get<double>()) < 1000.0 &&
        std::fabs(sent["start_s"].get<double>() - heard["start_s"].get<double>()) < 0.3) {
      return &sent;
    }
  }
  return nullptr;
}

}  // namespace

TEST(RxTimes, ASigmfRecordingsDatetimeGivesEveryTransmissionItsUtcTimes) {
  ScratchDir dir;
  keyed_band(dir, "pass.sigmf-data", {"--start-time", START_TEXT});
  const ToolRun run = rx({"--all", dir.file("pass.sigmf-meta"), "-O", dir.file("out")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("recording began 2026-12-09T05:08:13.000Z (from SigMF core:datetime)"), std::string::npos)
      << run.err;
  const Json truth = read_json(dir.file("pass.sigmf-data.truth.json"));
  const Json record = read_json(dir.file("out/transmissions.json"));
  ASSERT_GE(record.size(), truth.size() - 1);
  for (const Json& heard : record) {
    const Json* sent = sent_for(truth, heard);
    ASSERT_NE(sent, nullptr) << heard.dump();
    EXPECT_NEAR(utc_seconds(heard["start_utc"]), START_S + (*sent)["start_s"].get<double>(), 0.3) << heard.dump();
    EXPECT_NEAR(utc_seconds(heard["end_utc"]), START_S + (*sent)["end_s"].get<double>(), 0.3) << heard.dump();
    EXPECT_EQ(heard["time_source"], "SigMF core:datetime");
    // The default name says the time when the time is known.
    EXPECT_EQ(heard["file"].get<std::string>().find("Hz_20261209T0508"), 9u) << heard["file"];
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/" + heard["file"].get<std::string>())));
  }
  // --start-time says better than the metadata.
  const ToolRun told = rx({"--all", dir.file("pass.sigmf-meta"), "-O", dir.file("told"), "--start-time",
                           "2026-12-09T06:08:13+01:00", "--name", "{start_utc}_{n}"});
  ASSERT_EQ(told.status, 0) << told.err;
  EXPECT_NE(told.err.find("(from --start-time)"), std::string::npos) << told.err;
}

TEST(RxTimes, AnSdriqHeaderAndAGqrxNameSayWhenAndWhere) {
  ScratchDir dir;
  keyed_band(dir, "band.cs16");
  // The same samples behind an SDRangel header: rate, centre and start.
  SdriqHeader header;
  header.sample_rate = 480000;
  header.centre_hz = 145500000;
  header.sample_bits = 16;
  header.time_unit = SdriqTimeUnit::MILLISECONDS;
  header.start_time = UtcTime{static_cast<std::int64_t>(START_S), 0};
  const auto head = sdriq_header_bytes(header);
  Bytes sdriq(head.begin(), head.end());
  const Bytes samples = read_file(dir.file("band.cs16"));
  sdriq.insert(sdriq.end(), samples.begin(), samples.end());
  write_file(dir.file("pass.sdriq"), sdriq);
  const ToolRun from_header = rx({"--all", dir.file("pass.sdriq"), "-O", dir.file("sdriq"), "-q"});
  ASSERT_EQ(from_header.status, 0) << from_header.err;
  const Json sdriq_record = read_json(dir.file("sdriq/transmissions.json"));
  ASSERT_FALSE(sdriq_record.empty());
  EXPECT_EQ(sdriq_record[0]["time_source"], "the .sdriq header");
  EXPECT_NEAR(sdriq_record[0]["frequency_hz"].get<double>(),
              145500000.0 + sdriq_record[0]["offset_hz"].get<double>(), 0.5);
  // A damaged header is refused, not read as samples.
  sdriq[3] ^= 1;
  write_file(dir.file("bad.sdriq"), sdriq);
  const ToolRun damaged = rx({"--all", dir.file("bad.sdriq"), "-O", dir.file("bad")});
  EXPECT_EQ(damaged.status, 1);
  EXPECT_NE(damaged.err.find("checksum"), std::string::npos) << damaged.err;

  // gqrx names its recordings by UTC time, centre and rate; cf32 samples.
  keyed_band(dir, "band.cf32");
  const std::string gqrx = dir.file("gqrx_20261209_050813_145500000_480000_fc.raw");
  std::filesystem::rename(dir.file("band.cf32"), gqrx);
  const ToolRun named = rx({"--all", gqrx, "-O", dir.file("gqrx"), "-q"});
  ASSERT_EQ(named.status, 0) << named.err;
  const Json gqrx_record = read_json(dir.file("gqrx/transmissions.json"));
  ASSERT_FALSE(gqrx_record.empty());
  EXPECT_EQ(gqrx_record[0]["time_source"], "the gqrx file name");
  EXPECT_NEAR(utc_seconds(gqrx_record[0]["start_utc"]), START_S + gqrx_record[0]["start_s"].get<double>(), 0.002);
}

TEST(RxLabels, APlanLabelsEveryTransmissionAndToneFiltersKeepTheirOwn) {
  ScratchDir dir;
  keyed_band(dir, "band.cu8");
  const Json truth = read_json(dir.file("band.cu8.truth.json"));
  // One row per keyed channel, named by its tone; a second row on the
  // first channel with another tone, which nothing keys.
  std::map<double, std::string> names;
  std::string plan = "frequency,label,tone\n";
  for (const Json& sent : truth) {
    const double offset = sent["offset_hz"].get<double>();
    if (names.count(offset) != 0) continue;
    const std::string tone = sent["ctcss_hz"].is_null() ? "D" + sent["dcs"].get<std::string>()
                                                         : std::to_string(sent["ctcss_hz"].get<double>());
    names[offset] = "ch " + tone;
    plan += std::to_string(145500000.0 + offset) + "," + names[offset] + "," + tone + "\n";
  }
  plan += std::to_string(145500000.0 + names.begin()->first) + ",\"Other, group\",141.3\n";
  write_file(dir.file("plan.csv"), Bytes(plan.begin(), plan.end()));
  const ToolRun run = rx({"--all", dir.file("band.cu8"), "--rate", "480k", "--center", "145.5M", "--plan",
                          dir.file("plan.csv"), "-O", dir.file("all"), "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Json record = read_json(dir.file("all/transmissions.json"));
  ASSERT_GE(record.size(), truth.size() - 1);
  for (const Json& heard : record) {
    const Json* sent = sent_for(truth, heard);
    ASSERT_NE(sent, nullptr) << heard.dump();
    EXPECT_EQ(heard["label"], names[(*sent)["offset_hz"].get<double>()]) << heard.dump();
    EXPECT_EQ(heard["ctcss_hz"], (*sent)["ctcss_hz"]) << heard.dump();
    EXPECT_EQ(heard["dcs"], (*sent)["dcs"]) << heard.dump();
    EXPECT_GT(heard["tone_confidence"].get<double>(), 0.5);
  }

  // --tone keeps one group; the others are listed as skipped, with why.
  const ToolRun kept = rx({"--all", dir.file("band.cu8"), "--rate", "480k", "--tone", "100", "-O", dir.file("one"),
                           "-q"});
  ASSERT_EQ(kept.status, 0) << kept.err;
  const Json one = read_json(dir.file("one/transmissions.json"));
  ASSERT_FALSE(one.empty());
  for (const Json& heard : one) EXPECT_EQ(heard["ctcss_hz"], 100.0) << heard.dump();
  const Json skipped = read_json(dir.file("one/skipped.json"));
  std::size_t mismatched = 0;
  for (const Json& dropped : skipped) mismatched += dropped["reason"] == "tone_mismatch" ? 1 : 0;
  EXPECT_EQ(one.size() + mismatched, record.size());

  // A plan that cannot be read is refused with its line and field.
  const std::string bad = "frequency,label\n145.5M,ok\n145.5Q,broken\n";
  write_file(dir.file("bad.csv"), Bytes(bad.begin(), bad.end()));
  const ToolRun refused = rx({"--all", dir.file("band.cu8"), "--rate", "480k", "--center", "145.5M", "--plan",
                              dir.file("bad.csv"), "-O", dir.file("never")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("bad.csv:3"), std::string::npos) << refused.err;
}

TEST(RxLabels, FiltersListWhatTheyDropAndTemplatesMakeFolders) {
  ScratchDir dir;
  // A strong channel keyed alone beside an idle one 12.5 kHz away: its
  // skirt opens the idle channel's squelch, and is kept once, in its own.
  ASSERT_EQ(synth({"--keyed-channels", "50k,62.5k", "--key", "1:0.5-3.5", "--rate", "480k", "--duration", "4",
                   "--cnr", "50", "--deviation", "5000", dir.file("near.cu8")})
                .status,
            0);
  const ToolRun near = rx({"--all", dir.file("near.cu8"), "--rate", "480k", "--channels", "50k,62.5k", "--squelch",
                           "6", "--bandwidth", "25k", "-O", dir.file("near"), "-q"});
  ASSERT_EQ(near.status, 0) << near.err;
  const Json near_record = read_json(dir.file("near/transmissions.json"));
  ASSERT_EQ(near_record.size(), 1u);
  EXPECT_EQ(near_record[0]["offset_hz"], 50000.0);
  const Json near_skipped = read_json(dir.file("near/skipped.json"));
  ASSERT_FALSE(near_skipped.empty());
  EXPECT_EQ(near_skipped[0]["reason"], "neighbour");

  // The longest length cuts and marks; the shortest drops and lists.
  keyed_band(dir, "band.cu8");
  const ToolRun run = rx({"--all", dir.file("band.cu8"), "--rate", "480k", "--center", "145.5M", "--max-duration",
                          "2", "--min-duration", "1.5", "--name", "{freq_mhz}/{tone}_{n}", "-O", dir.file("out"),
                          "-q", "-j", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Json record = read_json(dir.file("out/transmissions.json"));
  ASSERT_FALSE(record.empty());
  bool any_cut = false;
  for (const Json& heard : record) {
    const double length = heard["end_s"].get<double>() - heard["start_s"].get<double>();
    EXPECT_LE(length, 2.06) << heard.dump();
    EXPECT_GE(length, 1.5) << heard.dump();
    any_cut = any_cut || heard["cut"].get<bool>();
    const std::string file = heard["file"];
    EXPECT_EQ(file.find('/'), 10u) << file;  // "145.525000/..."
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/" + file))) << file;
  }
  EXPECT_TRUE(any_cut);
  bool any_short = false;
  for (const Json& dropped : read_json(dir.file("out/skipped.json"))) any_short |= dropped["reason"] == "too_short";
  EXPECT_TRUE(any_short);

  // One worker or two: the same files and the same record.
  const ToolRun alone = rx({"--all", dir.file("band.cu8"), "--rate", "480k", "--center", "145.5M", "--max-duration",
                            "2", "--min-duration", "1.5", "--name", "{freq_mhz}/{tone}_{n}", "-O", dir.file("one"),
                            "-q", "-j", "1"});
  ASSERT_EQ(alone.status, 0) << alone.err;
  EXPECT_EQ(read_file(dir.file("one/transmissions.json")), read_file(dir.file("out/transmissions.json")));
  EXPECT_EQ(read_file(dir.file("one/skipped.json")), read_file(dir.file("out/skipped.json")));
  for (const Json& heard : record) {
    const std::string file = heard["file"];
    EXPECT_EQ(read_file(dir.file("one/" + file)), read_file(dir.file("out/" + file))) << file;
  }
}

}  // namespace kdsp
