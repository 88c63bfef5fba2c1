// Strict parsing of numeric command-line values: the whole text must be one
// number inside the stated range, so that a typo never becomes a silent 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kdsp {

// 0 with `*value` set when `text` is a finite decimal number within
// [min_value, max_value]; -1 with `*value` untouched otherwise.
int parse_real_option(const char* text, double min_value, double max_value, double* value);

// 0 with `*value` set when `text` is a decimal integer within
// [min_value, max_value]; -1 with `*value` untouched otherwise.
int parse_integer_option(const char* text, std::int64_t min_value, std::int64_t max_value, std::int64_t* value);

// 0 with `*value` set when `text` is an unsigned decimal integer that fits in
// 64 bits (no sign); -1 with `*value` untouched otherwise.
int parse_unsigned_option(const char* text, std::uint64_t* value);

// 0 with `*value` set when `text` is a frequency or rate within
// [min_value, max_value]: a decimal number ("2400000", "2.4e6", "-12500")
// optionally followed by a multiplier k, M or G ("240k", "2.4M") and
// optionally by "Hz" ("145.5MHz"); -1 with `*value` untouched otherwise.
int parse_frequency_option(const char* text, double min_value, double max_value, double* value);

// 0 with `*values` set when `text` is one or more frequencies as above,
// separated by commas ("-25k,12.5k"); -1 with `*values` untouched otherwise.
int parse_frequency_list(const std::string& text, double min_value, double max_value, std::vector<double>* values);

}  // namespace kdsp
