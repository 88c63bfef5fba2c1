// The sub-audible tones that key two-way radio channels, and their names:
// the 50 standard CTCSS tones (67.0 to 254.1 Hz) and the standard DCS codes
// (023 to 754), each sent in normal or inverted polarity. Every program and
// module that reads, writes or compares a tone goes through this table.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kdsp {

inline constexpr std::array<double, 50> CTCSS_TONES_HZ = {
    67.0,  69.3,  71.9,  74.4,  77.0,  79.7,  82.5,  85.4,  88.5,  91.5,  94.8,  97.4,  100.0,
    103.5, 107.2, 110.9, 114.8, 118.8, 123.0, 127.3, 131.8, 136.5, 141.3, 146.2, 151.4, 156.7,
    159.8, 162.2, 165.5, 167.9, 171.3, 173.8, 177.3, 179.9, 183.5, 186.2, 189.9, 192.8, 196.6,
    199.5, 203.5, 206.5, 210.7, 218.1, 225.7, 229.1, 233.6, 241.8, 250.3, 254.1};

// DCS codes as their three octal digits read as a decimal number (023 is 23),
// the way radios and channel lists print them.
inline constexpr std::array<std::uint16_t, 104> DCS_CODES = {
    23,  25,  26,  31,  32,  36,  43,  47,  51,  53,  54,  65,  71,  72,  73,  74,  114, 115, 116, 122, 125,
    131, 132, 134, 143, 145, 152, 155, 156, 162, 165, 172, 174, 205, 212, 223, 225, 226, 243, 244, 245, 246,
    251, 252, 255, 261, 263, 265, 266, 271, 274, 306, 311, 315, 325, 331, 332, 343, 346, 351, 356, 364, 365,
    371, 411, 412, 413, 423, 431, 432, 445, 446, 452, 454, 455, 462, 464, 465, 466, 503, 506, 516, 523, 526,
    532, 546, 565, 606, 612, 624, 627, 631, 632, 654, 662, 664, 703, 712, 723, 731, 732, 734, 743, 754};

enum class ToneKind { NONE, CTCSS, DCS };

// One tone: a CTCSS frequency (exactly a table entry) or a DCS code and its
// polarity.
struct Tone {
  ToneKind kind = ToneKind::NONE;
  double ctcss_hz = 0.0;
  std::uint16_t dcs_code = 0;  // as in DCS_CODES
  bool dcs_inverted = false;
};

bool operator==(const Tone& a, const Tone& b);

// Reads a tone as people write it: a CTCSS frequency in Hz ("100", "100.0",
// "100.0Hz"), or a DCS code with an optional leading D and trailing polarity
// N (normal, the default) or I (inverted): "D023N", "023I", "d754". Only
// standard tones and codes are accepted. 0 with `*tone` set, else -1.
int parse_tone(std::string_view text, Tone* tone);

// A list of tones of one kind separated by commas, as an option gives them:
// CTCSS frequencies ("67,100.0") or DCS codes ("023,754I", a leading D
// optional). 0 with `*tones` set, else -1 (an empty item, a tone of the
// other kind, or one that is no standard tone).
int parse_tone_list(std::string_view text, ToneKind kind, std::vector<Tone>* tones);

// The canonical name: "100.0" for CTCSS, "D023N" / "D023I" for DCS, "" for none.
std::string tone_name(const Tone& tone);

// The DCS code alone as the record writes it: "023N", "023I".
std::string dcs_code_name(std::uint16_t code, bool inverted);

// The nearest standard CTCSS tone to `hz` and whether it lies within
// `tolerance_hz` of it.
bool nearest_ctcss_tone(double hz, double tolerance_hz, double* tone_hz);

bool is_dcs_code(std::uint16_t code);

}  // namespace kdsp
