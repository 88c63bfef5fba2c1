#include "radio/report/report_page.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <nlohmann/json.hpp>
#include <span>
#include <string_view>

#include "radio/meta/tone_table.h"
#include "radio/report/page_assets.h"

namespace kdsp {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::array<std::uint8_t, 8> PNG_SIGNATURE = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

bool is_finite(const std::optional<double>& value) { return !value || std::isfinite(*value); }

int refuse(Failure* failure, const std::string& what) {
  *failure = Failure{what};
  return -1;
}

// The audio element resolves the name against the page's own address, so a
// name with a path in it would reach outside the directory.
bool is_plain_file_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos &&
         name.find('\0') == std::string::npos;
}

int check_transmission(const ReportTransmission& entry, std::size_t index, Failure* failure) {
  const std::string which = "transmission " + std::to_string(index + 1) + ": ";
  if (!std::isfinite(entry.offset_hz) || !is_finite(entry.frequency_hz)) {
    return refuse(failure, which + "its frequency is not a finite number");
  }
  if (!std::isfinite(entry.start_s) || !std::isfinite(entry.end_s) || entry.end_s < entry.start_s) {
    return refuse(failure, which + "its start and end are not finite times in order");
  }
  if (!std::isfinite(entry.level_db) || !is_finite(entry.ctcss_hz) || !is_finite(entry.tone_confidence)) {
    return refuse(failure, which + "its level or tone is not a finite number");
  }
  if (!is_plain_file_name(entry.file)) {
    return refuse(failure, which + "\"" + entry.file + "\" is not a file name inside the page's directory");
  }
  return 0;
}

int check_waterfall(const ReportWaterfall& waterfall, Failure* failure) {
  if (waterfall.png.empty()) return 0;
  const std::span<const std::uint8_t> head(waterfall.png.data(), std::min(waterfall.png.size(), PNG_SIGNATURE.size()));
  if (!std::equal(head.begin(), head.end(), PNG_SIGNATURE.begin(), PNG_SIGNATURE.end())) {
    return refuse(failure, "the waterfall is not a PNG file");
  }
  if (!std::isfinite(waterfall.low_offset_hz) || !std::isfinite(waterfall.high_offset_hz) ||
      waterfall.high_offset_hz <= waterfall.low_offset_hz) {
    return refuse(failure, "the waterfall's frequency span is empty or not finite");
  }
  if (!std::isfinite(waterfall.start_s) || !std::isfinite(waterfall.end_s) || waterfall.end_s <= waterfall.start_s) {
    return refuse(failure, "the waterfall's time span is empty or not finite");
  }
  return 0;
}

int check_page(const ReportPage& page, Failure* failure) {
  if (!is_finite(page.centre_hz) || !std::isfinite(page.sample_rate) || page.sample_rate < 0.0) {
    return refuse(failure, "the recording's centre or sample rate is not a finite number");
  }
  if (!std::isfinite(page.duration_s) || page.duration_s < 0.0) {
    return refuse(failure, "the recording's duration is not a finite number of seconds");
  }
  if (!std::isfinite(page.channel_width_hz) || page.channel_width_hz <= 0.0) {
    return refuse(failure, "the channel width is not a positive number of hertz");
  }
  if (check_waterfall(page.waterfall, failure) != 0) return -1;
  for (std::size_t i = 0; i < page.transmissions.size(); ++i) {
    if (check_transmission(page.transmissions[i], i, failure) != 0) return -1;
  }
  return 0;
}

std::string base64_text(std::span<const std::uint8_t> bytes) {
  static constexpr char DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t taken = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
    if (taken > 1) group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    if (taken > 2) group |= bytes[i + 2];
    for (std::size_t digit = 0; digit < 4; ++digit) {
      text += digit <= taken ? DIGITS[(group >> (18 - 6 * digit)) & 0x3f] : '=';
    }
  }
  return text;
}

Json optional_json(const std::optional<double>& value) { return value ? Json(*value) : Json(); }
Json optional_json(const std::optional<std::string>& value) { return value ? Json(*value) : Json(); }

// The tone's name as every kdsp program writes it ("100.0", "D023N"); a DCS
// code the table does not know is shown as the record gives it.
std::string tone_display_name(const ReportTransmission& entry) {
  if (entry.ctcss_hz) return tone_name(Tone{ToneKind::CTCSS, *entry.ctcss_hz, 0, false});
  if (!entry.dcs) return "";
  Tone tone;
  return parse_tone(*entry.dcs, &tone) == 0 && tone.kind == ToneKind::DCS ? tone_name(tone) : "D" + *entry.dcs;
}

// The same fields and names as transmissions.json, and the tone's name.
Json transmission_json(const ReportTransmission& entry) {
  Json item;
  item["offset_hz"] = entry.offset_hz;
  item["frequency_hz"] = optional_json(entry.frequency_hz);
  item["start_s"] = entry.start_s;
  item["end_s"] = entry.end_s;
  item["level_db"] = entry.level_db;
  item["file"] = entry.file;
  item["start_utc"] = optional_json(entry.start_utc);
  item["end_utc"] = optional_json(entry.end_utc);
  item["label"] = optional_json(entry.label);
  item["ctcss_hz"] = optional_json(entry.ctcss_hz);
  item["dcs"] = optional_json(entry.dcs);
  item["dcs_alias"] = optional_json(entry.dcs_alias);
  item["tone_confidence"] = optional_json(entry.tone_confidence);
  item["tone"] = tone_display_name(entry);
  return item;
}

Json page_json(const ReportPage& page) {
  Json data;
  data["recording"] = {{"name", page.recording_name},
                       {"description", page.description},
                       {"centre_hz", optional_json(page.centre_hz)},
                       {"sample_rate", page.sample_rate},
                       {"duration_s", page.duration_s},
                       {"start_time", optional_json(page.start_time)},
                       {"channel_width_hz", page.channel_width_hz}};
  const ReportWaterfall& waterfall = page.waterfall;
  data["waterfall"] = waterfall.png.empty() ? Json()
                                            : Json{{"low_offset_hz", waterfall.low_offset_hz},
                                                   {"high_offset_hz", waterfall.high_offset_hz},
                                                   {"start_s", waterfall.start_s},
                                                   {"end_s", waterfall.end_s}};
  Json transmissions = Json::array();
  for (const ReportTransmission& entry : page.transmissions) transmissions.push_back(transmission_json(entry));
  data["transmissions"] = std::move(transmissions);
  return data;
}

// JSON that can sit inside a <script> element. The HTML parser ends the
// element at the first "</script", whatever JSON quoting surrounds it, and
// "<!--" changes how it looks for that end; a '<' can only occur inside a
// JSON string, where \u003c reads back as the same character. Text that is
// not UTF-8 is replaced rather than refused: a recording's name is whatever
// bytes its file name holds.
std::string script_safe_json(const Json& data) {
  const std::string text = data.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::string safe;
  safe.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '<') {
      safe += "\\u003c";
    } else {
      safe += c;
    }
  }
  return safe;
}

std::string html_escaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

// The elements the script fills; everything the recording says reaches the
// page through the JSON block and textContent, never as markup.
constexpr std::string_view PAGE_BODY = R"(<header>
<h1 id="title"></h1>
<p id="description"></p>
<ul id="facts"></ul>
</header>
<main>
<section id="band" aria-label="Waterfall of the band with every transmission">
<canvas id="waterfall"></canvas>
<div id="tip" hidden></div>
</section>
<section id="list" aria-label="Transmissions">
<div id="controls">
<label>Channel <select id="channel-filter"></select></label>
<label>Tone <select id="tone-filter"></select></label>
<span id="count"></span>
</div>
<div id="player-bar"><audio id="player" controls preload="none"></audio><span id="now-playing"></span></div>
<div id="rows" tabindex="0">
<table>
<colgroup><col class="c-time"><col class="c-frequency"><col class="c-label"><col class="c-tone"><col class="c-duration"><col class="c-level"></colgroup>
<thead><tr>
<th data-key="time"><button type="button">Time</button></th>
<th data-key="frequency"><button type="button">Frequency</button></th>
<th data-key="label"><button type="button">Label</button></th>
<th data-key="tone"><button type="button">Tone</button></th>
<th data-key="duration"><button type="button">Duration</button></th>
<th data-key="level"><button type="button">Level</button></th>
</tr></thead>
<tbody id="row-body"></tbody>
</table>
</div>
<p id="keys">Click a box or a row to play it. Keys: <kbd>j</kbd> or <kbd>&darr;</kbd> next,
<kbd>k</kbd> or <kbd>&uarr;</kbd> previous.</p>
</section>
</main>
)";

}  // namespace

int render_report_page(const ReportPage& page, std::string* html, Failure* failure) {
  if (check_page(page, failure) != 0) return -1;
  std::string text;
  text += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  text += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  text += "<title>" + html_escaped(page.recording_name) + " - transmissions</title>\n";
  text += "<style>\n";
  text += REPORT_PAGE_STYLE;
  text += "</style>\n</head>\n<body>\n";
  text += PAGE_BODY;
  if (!page.waterfall.png.empty()) {
    text += "<img id=\"waterfall-image\" alt=\"\" hidden src=\"data:image/png;base64,";
    text += base64_text(page.waterfall.png);
    text += "\">\n";
  }
  text += "<script type=\"application/json\" id=\"report-data\">";
  text += script_safe_json(page_json(page));
  text += "</script>\n<script>\n";
  text += REPORT_PAGE_SCRIPT;
  text += "</script>\n</body>\n</html>\n";
  *html = std::move(text);
  return 0;
}

}  // namespace kdsp
