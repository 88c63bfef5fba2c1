// The page kdsp-rx --report leaves beside a band's transmissions (index.html):
// the band's waterfall with every transmission drawn as a box at its
// frequency and time, and a table of them that sorts, filters and plays each
// one's WAV. The page is one self-contained file that opens from disk: the
// waterfall is embedded in it, its style and script are inline, and the only
// files it refers to are the WAVs in its own directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "radio/base/failure.h"

namespace kdsp {

inline constexpr const char* REPORT_PAGE_NAME = "index.html";

// One transmission as transmissions.json records it.
struct ReportTransmission {
  double offset_hz = 0.0;
  std::optional<double> frequency_hz;  // with the recording's centre known
  double start_s = 0.0;
  double end_s = 0.0;
  double level_db = 0.0;
  std::string file;                      // the WAV's name inside the page's directory
  std::optional<std::string> start_utc;  // RFC 3339, with the recording's start time known
  std::optional<std::string> end_utc;
  std::optional<std::string> label;  // the channel's name from a channel list
  std::optional<double> ctcss_hz;
  std::optional<std::string> dcs;        // "023N", "023I"
  std::optional<std::string> dcs_alias;  // the code the same bits also read as
  std::optional<double> tone_confidence;
};

// The band's waterfall as the caller drew it: frequency across, from the low
// to the high offset from the centre; time down, from start_s to end_s of the
// recording. The boxes are placed by these spans, so they must be those of
// the picture's plot, edge to edge.
struct ReportWaterfall {
  std::vector<std::uint8_t> png;  // a complete PNG file; empty for none
  double low_offset_hz = 0.0;
  double high_offset_hz = 0.0;
  double start_s = 0.0;
  double end_s = 0.0;
};

struct ReportPage {
  std::string recording_name;
  std::string description;
  std::optional<double> centre_hz;
  double sample_rate = 0.0;
  double duration_s = 0.0;
  std::optional<std::string> start_time;  // as the recording states it
  // How wide each transmission's box is drawn: the channel the receiver cut.
  double channel_width_hz = 12500.0;
  ReportWaterfall waterfall;
  std::vector<ReportTransmission> transmissions;
};

// 0 with `*html` holding the whole page (UTF-8), else -1 with `*error` naming
// the first value the page cannot show: a time, level or frequency that is
// not a finite number, a transmission that ends before it starts, a
// waterfall that is not a PNG or spans nothing, or a file name that is not a
// plain name inside the page's directory. Text that is not UTF-8 is shown
// with replacement characters.
int render_report_page(const ReportPage& page, std::string* html, Failure* failure);

}  // namespace kdsp
