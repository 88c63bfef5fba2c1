#include "radio/meta/name_template.h"

#include <gtest/gtest.h>

#include <string>

namespace kdsp {
namespace {

NameTemplate checked(const std::string& text) {
  NameTemplate name_template;
  Failure error;
  EXPECT_EQ(parse_name_template(text, &name_template, &error), 0) << text << ": " << error;
  return name_template;
}

std::string refusal(const std::string& text) {
  NameTemplate name_template;
  name_template.pieces.resize(2);
  Failure error;
  EXPECT_EQ(parse_name_template(text, &name_template, &error), -1) << text;
  EXPECT_EQ(name_template.pieces.size(), 2u) << "left untouched: " << text;
  return failure_text(error);
}

std::string expanded(const std::string& text, const NameFields& fields) {
  std::string path;
  Failure error;
  EXPECT_EQ(expand_name_template(checked(text), fields, &path, &error), 0) << text << ": " << error;
  return path;
}

NameFields transmission(double offset_hz, std::optional<double> frequency_hz, double start_s) {
  NameFields fields;
  fields.offset_hz = offset_hz;
  fields.frequency_hz = frequency_hz;
  fields.start_s = start_s;
  return fields;
}

UtcTime instant(const char* text) {
  UtcTime time;
  Failure error;
  EXPECT_EQ(parse_utc_time(text, &time, &error), 0) << error;
  return time;
}

TEST(NameTemplate, TheDefaultWritesTheNamesKdspRxHasAlwaysWritten) {
  // The names of the README's example run, and kdsp-rx's own forms
  // "%.0fHz_%.3fs" and "%+.0fHz_%.3fs".
  EXPECT_EQ(expanded(default_name_template(true, false), transmission(-1.35e6, 144'650'000.0, 3.994)),
            "144650000Hz_3.994s");
  EXPECT_EQ(expanded(default_name_template(true, false), transmission(0, 146'525'000.0, 0.256)), "146525000Hz_0.256s");
  EXPECT_EQ(expanded(default_name_template(false, false), transmission(25'000, std::nullopt, 1.536)),
            "+25000Hz_1.536s");
  EXPECT_EQ(expanded(default_name_template(false, false), transmission(0.2, std::nullopt, 12.3456)), "+0Hz_12.346s");
  char written[96];
  for (double start_s : {0.0, 0.0005, 1.9995, 59.999, 3599.9996, 86400.125}) {
    for (double frequency_hz : {144'650'000.0, 145'512'500.4, 1'296'000'000.0}) {
      std::snprintf(written, sizeof written, "%.0fHz_%.3fs", frequency_hz, start_s);
      EXPECT_EQ(expanded(default_name_template(true, false), transmission(0, frequency_hz, start_s)), written);
    }
  }
}

TEST(NameTemplate, WithAStartTimeTheDefaultNamesTheUtcInstant) {
  NameFields fields = transmission(25'000, 144'650'000.0, 3.994);
  fields.start_utc = instant("2026-12-09T05:08:13.250Z");
  EXPECT_EQ(default_name_template(true, true), "{freq}Hz_{start_utc}");
  EXPECT_EQ(expanded(default_name_template(true, true), fields), "144650000Hz_20261209T050813.250Z");
  fields.frequency_hz.reset();
  EXPECT_EQ(expanded(default_name_template(false, true), fields), "+25000Hz_20261209T050813.250Z");
}

TEST(NameTemplate, FillsEveryTokenAndMakesFoldersOnlyWhereTheTemplateSays) {
  NameFields fields = transmission(-12'500, 446'006'250.0, 61.5);
  fields.start_utc = instant("2026-12-09T23:59:59.999Z");
  fields.label = "PMR 1";
  fields.tone = Tone{ToneKind::CTCSS, 67.0, 0, false};
  fields.number = 42;
  EXPECT_EQ(expanded("{date}/{freq}_{start_utc}", fields), "2026-12-09/446006250_20261209T235959.999Z");
  EXPECT_EQ(expanded("{label}/{n} {freq_mhz} MHz {offset} {start}s {tone}", fields),
            "PMR 1/42 446.006250 MHz -12500 61.500s 67.0");
  fields.tone = Tone{ToneKind::DCS, 0.0, 23, true};
  fields.label = "net/north";
  EXPECT_EQ(expanded("{label}_{tone}", fields), "net_north_D023I");
  fields.label.clear();
  fields.tone = Tone{};
  EXPECT_EQ(expanded("{label}{tone}/{n}", fields), "_/42");
}

TEST(NameTemplate, RefusesUnknownTokensAndPathsOutsideTheOutputFolder) {
  EXPECT_EQ(refusal("{freq}_{time}"),
            "unknown token {time} in the name template; the tokens are {freq}, {freq_mhz}, {offset}, {start}, "
            "{start_utc}, {date}, {label}, {tone}, {n}");
  EXPECT_NE(refusal("{Freq}").find("unknown token {Freq}"), std::string::npos);
  EXPECT_NE(refusal("{}").find("unknown token {}"), std::string::npos);
  EXPECT_EQ(refusal("{freq"), "a '{' without its '}' in the name template");
  EXPECT_EQ(refusal("freq}"), "a '}' without its '{' in the name template");
  EXPECT_EQ(refusal("/tmp/{freq}"), "the name template is an absolute path: names stay inside the output folder");
  EXPECT_EQ(refusal("../{freq}"), "the name template has a '..' folder: names stay inside the output folder");
  EXPECT_EQ(refusal("a/../../{freq}"), "the name template has a '..' folder: names stay inside the output folder");
  EXPECT_EQ(refusal("./{freq}"), "the name template has a '.' folder: names stay inside the output folder");
  EXPECT_EQ(refusal("{date}//{freq}"), "the name template has an empty folder or file name around a '/'");
  EXPECT_EQ(refusal("{date}/"), "the name template has an empty folder or file name around a '/'");
  EXPECT_EQ(refusal(""), "the name template is empty");
  EXPECT_EQ(refusal(std::string(MAX_NAME_TEMPLATE_BYTES + 1, 'x')), "the name template is longer than 512 bytes");
}

TEST(NameTemplate, SaysBeforeARunWhatATemplateNeeds) {
  EXPECT_TRUE(name_template_needs(checked("{freq_mhz}")).centre);
  EXPECT_FALSE(name_template_needs(checked("{offset}_{start}")).centre);
  EXPECT_TRUE(name_template_needs(checked("{date}/{offset}")).start_time);
  std::string path = "untouched";
  Failure error;
  EXPECT_EQ(expand_name_template(checked("{freq}"), transmission(0, std::nullopt, 1), &path, &error), -1);
  EXPECT_NE(failure_text(error).find("centre frequency"), std::string::npos);
  EXPECT_EQ(expand_name_template(checked("{date}/{offset}"), transmission(0, std::nullopt, 1), &path, &error), -1);
  EXPECT_NE(failure_text(error).find("start time"), std::string::npos);
  EXPECT_EQ(path, "untouched");
}

// Whatever a label holds, the name stays a relative path of sound
// components below the output folder.
TEST(NameTemplate, HostileLabelsNeverLeaveTheFolderOrMakeBadNames) {
  const struct {
    std::string label;
    const char* name;
  } cases[] = {
      {"../../etc/passwd", ".._.._etc_passwd/1"},
      {"..", "_../1"},
      {".", "_./1"},
      {"", "_/1"},
      {"-rf", "_-rf/1"},
      {"a\nb\tc\x7f"
       "d",
       "a_b_c_d/1"},
      {std::string("nul\0byte", 8), "nul_byte/1"},
      {"C:\\temp\\x", "C__temp_x/1"},
      {"what? \"this\" <is> a|b*", "what_ _this_ _is_ a_b_/1"},
  };
  for (const auto& c : cases) {
    NameFields fields = transmission(0, 145e6, 1);
    fields.label = c.label;
    fields.number = 1;
    EXPECT_EQ(expanded("{label}/{n}", fields), c.name);
  }
  NameFields negative = transmission(-25'000, std::nullopt, 1.536);
  EXPECT_EQ(expanded(default_name_template(false, false), negative), "_-25000Hz_1.536s");
}

TEST(NameTemplate, CutsOverlongNamesBetweenCharacters) {
  NameFields fields = transmission(0, 145e6, 1);
  fields.label = "x";
  for (int i = 0; i < 150; ++i) fields.label += "\xC5\x82";  // ł, two bytes
  const std::string name = expanded("{label}", fields);
  EXPECT_EQ(name.size(), MAX_NAME_COMPONENT_BYTES - 1);  // never half a character
  EXPECT_EQ(name.substr(0, 3), "x\xC5\x82");
  EXPECT_EQ(name.substr(name.size() - 2), "\xC5\x82");
}

}  // namespace
}  // namespace kdsp
