#include "radio/meta/tone_table.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kdsp {

namespace {

// CTCSS frequencies are written with one decimal; a value within this of a
// table entry is that entry ("100" and "100.00" are 100.0).
constexpr double CTCSS_NAME_TOLERANCE_HZ = 0.005;

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

int parse_dcs(std::string_view text, Tone* tone) {
  if (!text.empty() && upper(text.front()) == 'D') text.remove_prefix(1);
  bool inverted = false;
  if (!text.empty() && (upper(text.back()) == 'N' || upper(text.back()) == 'I')) {
    inverted = upper(text.back()) == 'I';
    text.remove_suffix(1);
  }
  if (text.size() != 3 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '7'; })) {
    return -1;
  }
  const auto code = static_cast<std::uint16_t>((text[0] - '0') * 100 + (text[1] - '0') * 10 + (text[2] - '0'));
  if (!is_dcs_code(code)) return -1;
  *tone = Tone{ToneKind::DCS, 0.0, code, inverted};
  return 0;
}

int parse_ctcss(std::string_view text, Tone* tone) {
  if (text.size() > 2 && (text.substr(text.size() - 2) == "Hz" || text.substr(text.size() - 2) == "hz")) {
    text.remove_suffix(2);
  }
  if (text.empty() || text.size() > 16 || !std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) || c == '.';
      })) {
    return -1;
  }
  const std::string number(text);
  char* end = nullptr;
  const double hz = std::strtod(number.c_str(), &end);
  double standard = 0.0;
  if (*end != '\0' || !nearest_ctcss_tone(hz, CTCSS_NAME_TOLERANCE_HZ, &standard)) return -1;
  *tone = Tone{ToneKind::CTCSS, standard, 0, false};
  return 0;
}

}  // namespace

bool operator==(const Tone& a, const Tone& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case ToneKind::NONE: return true;
    case ToneKind::CTCSS: return a.ctcss_hz == b.ctcss_hz;
    case ToneKind::DCS: return a.dcs_code == b.dcs_code && a.dcs_inverted == b.dcs_inverted;
  }
  return false;
}

bool is_dcs_code(std::uint16_t code) { return std::binary_search(DCS_CODES.begin(), DCS_CODES.end(), code); }

bool nearest_ctcss_tone(double hz, double tolerance_hz, double* tone_hz) {
  if (!std::isfinite(hz)) return false;
  const auto nearest = std::min_element(CTCSS_TONES_HZ.begin(), CTCSS_TONES_HZ.end(),
                                        [hz](double a, double b) { return std::fabs(a - hz) < std::fabs(b - hz); });
  if (std::fabs(*nearest - hz) > tolerance_hz) return false;
  *tone_hz = *nearest;
  return true;
}

int parse_tone(std::string_view text, Tone* tone) {
  if (text.empty()) return -1;
  // A D, a polarity letter or a leading zero says DCS (no CTCSS frequency
  // starts with 0); a bare number is a CTCSS frequency when it is one
  // ("100"), else a DCS code ("114").
  const bool said_dcs =
      upper(text.front()) == 'D' || text.front() == '0' || upper(text.back()) == 'N' || upper(text.back()) == 'I';
  if (said_dcs) return parse_dcs(text, tone);
  if (parse_ctcss(text, tone) == 0) return 0;
  return parse_dcs(text, tone);
}

int parse_tone_list(std::string_view text, ToneKind kind, std::vector<Tone>* tones) {
  std::vector<Tone> parsed;
  for (;;) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    Tone tone;
    // A bare "100" is read as CTCSS; as a DCS list item it is the code 100.
    const int status = kind == ToneKind::DCS     ? parse_dcs(item, &tone)
                       : kind == ToneKind::CTCSS ? parse_ctcss(item, &tone)
                                                 : -1;
    if (status != 0) return -1;
    parsed.push_back(tone);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  *tones = std::move(parsed);
  return 0;
}

std::string dcs_code_name(std::uint16_t code, bool inverted) {
  char text[8];
  std::snprintf(text, sizeof text, "%03u%c", static_cast<unsigned>(code % 1000), inverted ? 'I' : 'N');
  return text;
}

std::string tone_name(const Tone& tone) {
  switch (tone.kind) {
    case ToneKind::NONE: return "";
    case ToneKind::CTCSS: {
      char text[16];
      std::snprintf(text, sizeof text, "%.1f", tone.ctcss_hz);
      return text;
    }
    case ToneKind::DCS: return "D" + dcs_code_name(tone.dcs_code, tone.dcs_inverted);
  }
  return "";
}

}  // namespace kdsp
