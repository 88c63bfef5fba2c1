// Absolute time for recordings and transmissions: an exact instant in UTC,
// read from RFC 3339 / ISO 8601 text, written back as RFC 3339 or in a form
// fit for file names, and the instant of any sample of a recording computed
// from its index and the rate, never by adding up sample periods.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

#include "radio/base/failure.h"

namespace kdsp {

// Whole seconds since 1970-01-01T00:00:00Z and the nanoseconds after them,
// in [0, 1e9). Two fields rather than one count of nanoseconds: an int64 of
// nanoseconds ends in 2262, and instants up to the year 9999 are accepted.
struct UtcTime {
  std::int64_t seconds = 0;
  std::int32_t nanoseconds = 0;

  auto operator<=>(const UtcTime&) const = default;
};

// A calendar date and a wall-clock time as written, without a zone.
struct CivilTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

inline constexpr int MIN_UTC_YEAR = 1970;
inline constexpr int MAX_UTC_YEAR = 9999;
inline constexpr std::int32_t NANOSECONDS_PER_SECOND = 1'000'000'000;

// Reads a time with its zone: RFC 3339 ("2026-12-09T05:08:13Z",
// "2026-12-09 06:08:13.250+01:00") or ISO 8601 basic form
// ("20261209T050813Z", "20261209T060813.25+0100"). Up to nine fraction
// digits; "-00:00" is UTC. A time without a zone, a date that does not
// exist, a leap second and anything before 1970 or after 9999 are refused.
// 0 with `*time` set, or -1 with `*error` saying why.
int parse_utc_time(std::string_view text, UtcTime* time, Failure* failure);

// RFC 3339 in UTC with milliseconds: "2026-12-09T05:08:13.250Z". The
// milliseconds are truncated, so that the text never names a moment after
// the instant.
std::string utc_time_rfc3339(const UtcTime& time);

// The same instant for a file name: ISO 8601 basic form, which has no ':'
// (refused by Windows and mistaken for a host by scp and rsync) and sorts in
// time order: "20261209T050813.250Z". parse_utc_time reads it back.
std::string utc_time_file_name(const UtcTime& time);

// The UTC date alone, "2026-12-09", for a folder per day.
std::string utc_date(const UtcTime& time);

// The instant whose UTC calendar fields are `civil`: 0 with `*time` set, or
// -1 when the fields name no date and time between 1970 and 9999.
int utc_time_from_civil(const CivilTime& civil, UtcTime* time);

// The instant whose wall-clock time in the process's local zone (TZ) is
// `civil`. A time the clocks skipped when they went forward, or one they
// passed twice when they went back, is refused rather than guessed: 0 with
// `*time` set, or -1 with `*error` saying which.
int utc_time_from_local(const CivilTime& civil, UtcTime* time, Failure* failure);

// Milliseconds since the epoch: 0 with `*time` set, -1 outside 1970..9999.
int utc_time_from_unix_ms(std::int64_t milliseconds, UtcTime* time);

// The instant of sample `sample_index` of a recording whose sample 0 is at
// `start`: start + sample_index / sample_rate, computed in integers from the
// exact binary value of `sample_rate` and rounded once to the nearest
// nanosecond (halves up). Nothing accumulates: a whole-number rate gives
// whole seconds exactly (sample 8 640 000 000 at 2.4 MS/s is start + 3600 s),
// and no index is off by more than half a nanosecond. 0 with `*instant`
// set, or -1 for a rate outside [1, 1e12] S/s or an instant past 9999.
int utc_time_at_sample(const UtcTime& start, std::uint64_t sample_index, double sample_rate, UtcTime* instant);

// The instant `sample_count` samples before `later` (the start of a
// recording whose sample `sample_count` is at `later`), computed as
// utc_time_at_sample computes. 0, or -1 before 1970 or for a rate outside
// [1, 1e12].
int utc_time_before_samples(const UtcTime& later, std::uint64_t sample_count, double sample_rate, UtcTime* instant);

}  // namespace kdsp
