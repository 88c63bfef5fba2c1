#include "common/option_value.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

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

int parse_integer_option(const char* text, std::int64_t min_value, std::int64_t max_value,
                         std::int64_t* value) {
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

}  // namespace kdsp
