#include "radio/report/report_page.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

namespace kdsp {
namespace {

constexpr const char* PNG_SIGNATURE = "\x89PNG\r\n\x1a\n";

ReportTransmission transmission(double offset_hz, double start_s, const char* file) {
  ReportTransmission entry;
  entry.offset_hz = offset_hz;
  entry.frequency_hz = 145500000.0 + offset_hz;
  entry.start_s = start_s;
  entry.end_s = start_s + 2.5;
  entry.level_db = -20.0;
  entry.file = file;
  return entry;
}

ReportPage band_page() {
  ReportPage page;
  page.recording_name = "band.cf32";
  page.centre_hz = 145500000.0;
  page.sample_rate = 240000.0;
  page.duration_s = 60.0;
  page.transmissions = {transmission(25000.0, 2.765, "145525000Hz_2.765s.wav")};
  return page;
}

std::string rendered(const ReportPage& page) {
  std::string html;
  Failure error;
  EXPECT_EQ(render_report_page(page, &html, &error), 0) << error;
  return html;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t found = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The data block as the page's script reads it.
nlohmann::json page_data(const std::string& html) {
  const std::string open = "<script type=\"application/json\" id=\"report-data\">";
  const std::size_t begin = html.find(open);
  EXPECT_NE(begin, std::string::npos);
  const std::size_t end = html.find("</script>", begin);
  return nlohmann::json::parse(html.substr(begin + open.size(), end - begin - open.size()));
}

std::string data_uri_text(const std::string& html) {
  const std::string open = "src=\"data:image/png;base64,";
  const std::size_t begin = html.find(open);
  if (begin == std::string::npos) return "";
  return html.substr(begin + open.size(), html.find('"', begin + open.size()) - begin - open.size());
}

TEST(ReportPage, HostileTextStaysTextInTitleAndData) {
  ReportPage page = band_page();
  page.recording_name = "<b>\"north\" & 'south'</b></title><script>alert(1)</script>";
  page.description = "<!-- comment opens here";
  const std::string hostile[] = {"</script><script>window.pwned = 1</script>", "</SCRIPT >\"quoted\" 'single'",
                                 "back\\slash \u2028line\u2029 <!-- <script>", "Ambulance & <b>fire</b>"};
  for (const std::string& label : hostile) {
    page.transmissions.push_back(transmission(12500.0, 5.0, "145512500Hz_5.000s.wav"));
    page.transmissions.back().label = label;
  }
  const std::string html = rendered(page);
  // Only the page's own two script elements end, and no comment opens.
  EXPECT_EQ(occurrences(lower(html), "</script"), 2u);
  EXPECT_EQ(occurrences(html, "<!--"), 0u);
  EXPECT_EQ(occurrences(html, "<script>alert"), 0u);
  EXPECT_NE(html.find("<title>&lt;b&gt;&quot;north&quot; &amp; &#39;south&#39;&lt;/b&gt;&lt;/title&gt;"),
            std::string::npos);
  // The script reads back exactly what was given.
  const nlohmann::json data = page_data(html);
  EXPECT_EQ(data["recording"]["name"], page.recording_name);
  EXPECT_EQ(data["recording"]["description"], page.description);
  for (std::size_t i = 0; i < std::size(hostile); ++i) EXPECT_EQ(data["transmissions"][i + 1]["label"], hostile[i]);
}

TEST(ReportPage, NamesThatAreNotUtf8StillMakeAReadablePage) {
  ReportPage page = band_page();
  page.recording_name = "band\xff\xfe.cf32";
  page.transmissions[0].label = "caf\xc3";  // cut inside a character
  const nlohmann::json data = page_data(rendered(page));
  EXPECT_EQ(data["recording"]["name"], "band\xef\xbf\xbd\xef\xbf\xbd.cf32");
  EXPECT_EQ(data["transmissions"][0]["label"], "caf\xef\xbf\xbd");
}

TEST(ReportPage, EmptyRecordingMakesAPageWithNoTransmissionsAndNoPicture) {
  const std::string html = rendered(ReportPage{});
  const nlohmann::json data = page_data(html);
  EXPECT_TRUE(data["transmissions"].is_array());
  EXPECT_TRUE(data["transmissions"].empty());
  EXPECT_TRUE(data["waterfall"].is_null());
  EXPECT_TRUE(data["recording"]["centre_hz"].is_null());
  EXPECT_EQ(html.find("<img"), std::string::npos);
  EXPECT_EQ(html.rfind("</html>\n"), html.size() - 8);
}

TEST(ReportPage, RecordingWithoutCentreKeepsOffsetsAndNulls) {
  ReportPage page = band_page();
  page.centre_hz.reset();
  page.transmissions[0].frequency_hz.reset();
  page.transmissions[0].file = "+25000Hz_2.765s.wav";
  const nlohmann::json data = page_data(rendered(page));
  EXPECT_TRUE(data["recording"]["centre_hz"].is_null());
  const nlohmann::json& entry = data["transmissions"][0];
  EXPECT_TRUE(entry["frequency_hz"].is_null());
  EXPECT_EQ(entry["offset_hz"], 25000.0);
  EXPECT_EQ(entry["file"], "+25000Hz_2.765s.wav");
  for (const char* absent : {"start_utc", "end_utc", "label", "ctcss_hz", "dcs", "dcs_alias", "tone_confidence"}) {
    EXPECT_TRUE(entry[absent].is_null()) << absent;
  }
}

TEST(ReportPage, TonesAreNamedAsEveryProgramNamesThem) {
  ReportPage page = band_page();
  page.transmissions.assign(4, transmission(0.0, 1.0, "a.wav"));
  page.transmissions[0].ctcss_hz = 100.0;
  page.transmissions[1].dcs = "023N";
  page.transmissions[1].dcs_alias = "047I";
  page.transmissions[1].tone_confidence = 0.93;
  page.transmissions[2].dcs = "999X";  // not a code: shown as given
  const nlohmann::json data = page_data(rendered(page));
  EXPECT_EQ(data["transmissions"][0]["tone"], "100.0");
  EXPECT_EQ(data["transmissions"][1]["tone"], "D023N");
  EXPECT_EQ(data["transmissions"][1]["dcs_alias"], "047I");
  EXPECT_EQ(data["transmissions"][2]["tone"], "D999X");
  EXPECT_EQ(data["transmissions"][3]["tone"], "");
}

TEST(ReportPage, WaterfallIsEmbeddedWholeWithItsSpans) {
  ReportPage page = band_page();
  page.waterfall = {{}, -120000.0, 120000.0, 0.0, 60.0};
  const struct {
    std::string tail;
    const char* base64;
  } cases[] = {{"", "iVBORw0KGgo="},
               {"f", "iVBORw0KGgpm"},
               {"fo", "iVBORw0KGgpmbw=="},
               {"foo", "iVBORw0KGgpmb28="},
               {"\xff\xfe", "iVBORw0KGgr//g=="}};
  for (const auto& c : cases) {
    const std::string bytes = PNG_SIGNATURE + c.tail;
    page.waterfall.png.assign(bytes.begin(), bytes.end());
    const std::string html = rendered(page);
    EXPECT_EQ(data_uri_text(html), c.base64);
    const nlohmann::json spans = page_data(html)["waterfall"];
    EXPECT_EQ(spans["low_offset_hz"], -120000.0);
    EXPECT_EQ(spans["high_offset_hz"], 120000.0);
    EXPECT_EQ(spans["end_s"], 60.0);
  }
}

TEST(ReportPage, FiveThousandTransmissionsMakeNoMarkupPerTransmission) {
  ReportPage page = band_page();
  page.duration_s = 3600.0;
  page.transmissions.clear();
  for (int i = 0; i < 5000; ++i) {
    page.transmissions.push_back(transmission(12500.0 * (i % 16 - 8), 0.7 * i, "x.wav"));
    page.transmissions.back().label = "Channel " + std::to_string(i % 16);
  }
  const std::string html = rendered(page);
  EXPECT_EQ(page_data(html)["transmissions"].size(), 5000u);
  // The rows and boxes are made by the script as they come into view: the
  // markup holds the table's heading row only.
  EXPECT_EQ(occurrences(html, "<tr"), 1u);
  EXPECT_LT(html.size(), 5000u * 400u);
}

TEST(ReportPage, RefusesWhatThePageCannotShowAndLeavesTheOutputAlone) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* what;
    void (*spoil)(ReportPage&);
    const char* message;
  } cases[] = {
      {"start not a number", [](ReportPage& p) { p.transmissions[0].start_s = nan; }, "transmission 1"},
      {"ends before it starts", [](ReportPage& p) { p.transmissions[0].end_s = 1.0; }, "in order"},
      {"infinite level", [](ReportPage& p) { p.transmissions[0].level_db = -inf; }, "level"},
      {"file up a directory", [](ReportPage& p) { p.transmissions[0].file = "../secret.wav"; }, "../secret.wav"},
      {"file in a folder", [](ReportPage& p) { p.transmissions[0].file = "sub/a.wav"; }, "inside"},
      {"file with no name", [](ReportPage& p) { p.transmissions[0].file = ""; }, "inside"},
      {"waterfall not a PNG",
       [](ReportPage& p) {
         p.waterfall = {{'G', 'I', 'F', '8'}, -1.0, 1.0, 0.0, 1.0};
       },
       "PNG"},
      {"waterfall spans no band",
       [](ReportPage& p) {
         p.waterfall = {{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}, 5.0, 5.0, 0.0, 1.0};
       },
       "frequency span"},
      {"negative length", [](ReportPage& p) { p.duration_s = -1.0; }, "duration"},
      {"no channel width", [](ReportPage& p) { p.channel_width_hz = 0.0; }, "channel width"},
  };
  for (const auto& c : cases) {
    ReportPage page = band_page();
    c.spoil(page);
    std::string html = "untouched";
    Failure error;
    EXPECT_EQ(render_report_page(page, &html, &error), -1) << c.what;
    EXPECT_EQ(html, "untouched") << c.what;
    EXPECT_NE(failure_text(error).find(c.message), std::string::npos) << c.what << ": " << error;
  }
}

}  // namespace
}  // namespace kdsp
