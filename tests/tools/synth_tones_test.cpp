// kdsp-synth's keyed channels with sub-audible tones, as a user runs it: each
// transmission carries its channel's tone, read back by the tone decoder,
// and the truth names it; lists are taken in order or drawn from, and what
// is no standard tone is refused.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "radio/tone_transmission.h"
#include "tools/json_file.h"
#include "tools/tool_process.h"

namespace kdsp {

namespace {

using Json = nlohmann::json;

ToolRun synth(std::vector<std::string> args) { return run_tool(tool_path("kdsp-synth"), args); }

// The tone the truth gives a transmission.
Tone truth_tone(const Json& transmission) {
  Tone tone;
  if (!transmission["ctcss_hz"].is_null()) {
    tone.kind = ToneKind::CTCSS;
    EXPECT_TRUE(nearest_ctcss_tone(transmission["ctcss_hz"].get<double>(), 0.0, &tone.ctcss_hz));
  } else if (!transmission["dcs"].is_null()) {
    EXPECT_EQ(parse_tone(transmission["dcs"].get<std::string>(), &tone), 0);
  }
  return tone;
}

}  // namespace

TEST(SynthTones, EachTransmissionCarriesItsChannelsTone) {
  ScratchDir dir;
  const std::string recording = dir.file("keyed.cf32");
  ASSERT_EQ(synth({"--keyed-channels",
                   "-50k,25k,75k",
                   "--ctcss",
                   "100",
                   "--dcs",
                   "023I,754",
                   "--key",
                   "1:0.5-2.5",
                   "--key",
                   "2:1-3",
                   "--key",
                   "3:2-4.5",
                   "--key",
                   "1:3-4",
                   "--duration",
                   "5",
                   "--cnr",
                   "20",
                   "--seed",
                   "3",
                   "--truth",
                   dir.file("truth.json"),
                   recording})
                .status,
            0);
  const Json truth = read_json(dir.file("truth.json"));
  ASSERT_EQ(truth.size(), 4u);
  const char* names[] = {"100.0", "D023I", "D754N", "100.0"};
  const auto pairs = read_pairs(recording);
  for (std::size_t t = 0; t < truth.size(); ++t) {
    const Tone sent = truth_tone(truth[t]);
    EXPECT_EQ(tone_name(sent), names[t]) << t;
    const auto first = static_cast<std::size_t>(truth[t]["start_s"].get<double>() * 240000.0);
    const auto last = static_cast<std::size_t>(truth[t]["end_s"].get<double>() * 240000.0);
    const std::vector<std::complex<float>> transmission(pairs.begin() + static_cast<std::ptrdiff_t>(first),
                                                        pairs.begin() + static_cast<std::ptrdiff_t>(last));
    const ToneReading reading = decode_capture(transmission, truth[t]["offset_hz"].get<double>());
    EXPECT_TRUE(reads_as(reading, sent)) << names[t] << " read as " << tone_name(reading.tone);
  }
}

TEST(SynthTones, AShortListIsDrawnFromOnceForEachChannel) {
  ScratchDir dir;
  // Six channels keyed briefly, the first twice, drawing from two tones.
  std::vector<std::string> args = {"--keyed-channels",
                                   "-75k,-50k,-25k,25k,50k,75k",
                                   "--ctcss",
                                   "67,254.1",
                                   "--duration",
                                   "0.4",
                                   "--seed",
                                   "5",
                                   "--key",
                                   "1:0.2-0.3"};
  for (int channel = 1; channel <= 6; ++channel) args.insert(args.end(), {"--key", std::to_string(channel) + ":0-0.1"});
  std::vector<std::string> first = args;
  first.insert(first.end(), {"--truth", dir.file("truth.json"), dir.file("keyed.cu8")});
  ASSERT_EQ(synth(first).status, 0);
  const Json truth = read_json(dir.file("truth.json"));
  ASSERT_EQ(truth.size(), 7u);
  std::map<double, double> channel_tone;
  std::set<double> used;
  for (const Json& transmission : truth) {
    const double hz = transmission["ctcss_hz"].get<double>();
    EXPECT_TRUE(transmission["dcs"].is_null());
    EXPECT_TRUE(hz == 67.0 || hz == 254.1) << hz;
    const auto [at, fresh] = channel_tone.emplace(transmission["offset_hz"].get<double>(), hz);
    EXPECT_EQ(at->second, hz) << "a channel keeps its tone";
    used.insert(hz);
  }
  EXPECT_EQ(used.size(), 2u) << "six channels drawing from two tones";
  // The same seed draws the same tones.
  std::vector<std::string> again = args;
  again.insert(again.end(), {"--truth", dir.file("again.json"), dir.file("again.cu8")});
  ASSERT_EQ(synth(again).status, 0);
  EXPECT_EQ(read_json(dir.file("again.json")), truth);
}

TEST(SynthTones, WhatIsNoStandardToneOrTooManyIsAUsageError) {
  ScratchDir dir;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--keyed", "2", "--ctcss", "101"},
                                               {"--keyed", "2", "--ctcss", "023"},
                                               {"--keyed", "2", "--dcs", "024"},
                                               {"--keyed", "2", "--dcs", "100.0"},
                                               {"--keyed", "2", "--ctcss", "100,", "--dcs", "023"},
                                               {"--keyed-channels", "25k", "--ctcss", "100", "--dcs", "023"},
                                               {"--ctcss", "100"}}) {
    std::vector<std::string> full = args;
    full.push_back(dir.file("out.cu8"));
    const ToolRun run = synth(full);
    EXPECT_EQ(run.status, 2) << args[1] << " " << args.back() << ": " << run.err;
  }
  EXPECT_TRUE(dir.entries().empty());
}

}  // namespace kdsp
