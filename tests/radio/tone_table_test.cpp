#include "radio/meta/tone_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace kdsp {
namespace {

TEST(ToneTable, TablesAreSortedAndHoldTheStandardSets) {
  EXPECT_TRUE(std::is_sorted(CTCSS_TONES_HZ.begin(), CTCSS_TONES_HZ.end()));
  EXPECT_TRUE(std::is_sorted(DCS_CODES.begin(), DCS_CODES.end()));
  EXPECT_EQ(std::set<std::uint16_t>(DCS_CODES.begin(), DCS_CODES.end()).size(), DCS_CODES.size());
  // Every DCS digit is octal.
  for (std::uint16_t code : DCS_CODES) {
    EXPECT_LE(code % 10, 7u);
    EXPECT_LE(code / 10 % 10, 7u);
    EXPECT_LE(code / 100, 7u);
  }
  EXPECT_EQ(CTCSS_TONES_HZ.front(), 67.0);
  EXPECT_EQ(CTCSS_TONES_HZ.back(), 254.1);
  EXPECT_EQ(DCS_CODES.front(), 23);
  EXPECT_EQ(DCS_CODES.back(), 754);
}

TEST(ToneTable, ReadsTonesAsPeopleWriteThemAndNamesThemOneWay) {
  const struct {
    const char* text;
    const char* name;
  } cases[] = {
      {"100", "100.0"},   {"100.0", "100.0"}, {"100.00Hz", "100.0"}, {"67", "67.0"},
      {"254.1", "254.1"}, {"D023N", "D023N"}, {"023", "D023N"},      {"023I", "D023I"},
      {"d754i", "D754I"}, {"114", "D114N"},   {"D114", "D114N"},     {"754", "D754N"},
  };
  for (const auto& c : cases) {
    Tone tone;
    ASSERT_EQ(parse_tone(c.text, &tone), 0) << c.text;
    EXPECT_EQ(tone_name(tone), c.name) << c.text;
    Tone again;
    ASSERT_EQ(parse_tone(tone_name(tone), &again), 0) << c.text;
    EXPECT_EQ(again, tone) << c.text;
  }
}

TEST(ToneTable, RefusesWhatIsNoStandardTone) {
  for (const char* text : {"", "100.1", "66.9", "256", "D024N", "D08N", "D0234", "023X", "1e2", "-100", "nan",
                           "100.0.0", "D", "N", " 100", "100 "}) {
    Tone tone{ToneKind::CTCSS, 88.5, 0, false};
    EXPECT_EQ(parse_tone(text, &tone), -1) << text;
    EXPECT_EQ(tone.ctcss_hz, 88.5) << "left untouched: " << text;
  }
}

TEST(ToneTable, ReadsAnOptionsListOfOneKind) {
  std::vector<Tone> tones;
  ASSERT_EQ(parse_tone_list("67,100.0,254.1", ToneKind::CTCSS, &tones), 0);
  ASSERT_EQ(tones.size(), 3u);
  EXPECT_EQ(tone_name(tones[1]), "100.0");
  // In a DCS list a bare number is a code, even one that is also a CTCSS
  // frequency's digits.
  ASSERT_EQ(parse_tone_list("023,d754i,D114N,114", ToneKind::DCS, &tones), 0);
  ASSERT_EQ(tones.size(), 4u);
  EXPECT_EQ(tone_name(tones[0]), "D023N");
  EXPECT_EQ(tone_name(tones[1]), "D754I");
  EXPECT_EQ(tones[2], tones[3]);
  const std::vector<Tone> before = tones;
  for (const auto& [text, kind] : {std::pair{"", ToneKind::CTCSS},
                                   {"100,", ToneKind::CTCSS},
                                   {",100", ToneKind::CTCSS},
                                   {"100,,110.9", ToneKind::CTCSS},
                                   {"023", ToneKind::CTCSS},
                                   {"100", ToneKind::DCS},
                                   {"023,024", ToneKind::DCS},
                                   {"100", ToneKind::NONE}}) {
    EXPECT_EQ(parse_tone_list(text, kind, &tones), -1) << text;
    EXPECT_EQ(tones, before) << "left untouched: " << text;
  }
}

}  // namespace
}  // namespace kdsp
