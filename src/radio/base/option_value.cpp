#include "radio/base/option_value.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kdsp {

namespace {

// strtod and friends skip leading blanks and accept an empty tail; an option
// value with either is a mistake worth reporting.
bool starts_like_a_number(const char* text) {
  return text != nullptr && text[0] != '\0' && std::isspace(static_cast<unsigned char>(text[0])) == 0;
}

}  // namespace

int parse_real_option(const char* text, double min_value, double max_value, double* value) {
  if (!starts_like_a_number(text)) return -1;
  char* end = nullptr;
  errno = 0;
  double parsed = std::strtod(text, &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed)) return -1;
  if (parsed < min_value || parsed > max_value) return -1;
  *value = parsed;
  return 0;
}

int parse_integer_option(const char* text, std::int64_t min_value, std::int64_t max_value, std::int64_t* value) {
  if (!starts_like_a_number(text)) return -1;
  char* end = nullptr;
  errno = 0;
  long long parsed = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0') return -1;
  if (parsed < min_value || parsed > max_value) return -1;
  *value = parsed;
  return 0;
}

int parse_unsigned_option(const char* text, std::uint64_t* value) {
  // strtoull would quietly wrap "-1" to the largest value.
  if (!starts_like_a_number(text) || text[0] == '-' || text[0] == '+') return -1;
  char* end = nullptr;
  errno = 0;
  unsigned long long parsed = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0') return -1;
  *value = parsed;
  return 0;
}

int parse_frequency_option(const char* text, double min_value, double max_value, double* value) {
  if (!starts_like_a_number(text)) return -1;
  // The number's own characters only: strtod would also take "inf", "nan"
  // and hex floats, none of which is a frequency.
  const std::size_t number_length = std::strspn(text, "0123456789.eE+-");
  const char* tail = text + number_length;
  const char* exponent = "";
  if (*tail == 'k' || *tail == 'K') exponent = "e3";
  if (*tail == 'M') exponent = "e6";
  if (*tail == 'G') exponent = "e9";
  if (exponent[0] != '\0') ++tail;
  if (*tail != '\0' && std::strcmp(tail, "Hz") != 0 && std::strcmp(tail, "hz") != 0) return -1;
  std::string number(text, number_length);
  // "2.4M" is read as "2.4e6", so that it rounds exactly as the written-out
  // rate would; a multiplier after an exponent of its own is a mistake.
  if (exponent[0] != '\0') {
    if (number.find_first_of("eE") != std::string::npos) return -1;
    number += exponent;
  }
  return parse_real_option(number.c_str(), min_value, max_value, value);
}

int parse_frequency_list(const std::string& text, double min_value, double max_value, std::vector<double>* values) {
  std::vector<double> parsed;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    double value = 0.0;
    if (parse_frequency_option(text.substr(at, comma - at).c_str(), min_value, max_value, &value) != 0) return -1;
    parsed.push_back(value);
    at = comma + 1;
  }
  *values = std::move(parsed);
  return 0;
}

}  // namespace kdsp
