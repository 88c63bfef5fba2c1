#include "radio/meta/utc_time.h"

#include <time.h>

#include <cmath>
#include <cstdio>

namespace kdsp {

namespace {

// 9999-12-31T23:59:59Z, the last second a four-digit year can name.
constexpr std::int64_t MAX_UTC_SECONDS = 253402300799;
constexpr double MIN_TIMED_SAMPLE_RATE = 1.0;
constexpr double MAX_TIMED_SAMPLE_RATE = 1e12;
constexpr int MAX_FRACTION_DIGITS = 9;
constexpr int SECONDS_PER_MINUTE = 60;
constexpr int SECONDS_PER_HOUR = 3600;

// Reads fixed-width fields left to right; every step says whether the text
// went on as expected.
struct TimeText {
  std::string_view text;
  std::size_t at = 0;

  bool done() const { return at == text.size(); }
  char peek() const { return done() ? '\0' : text[at]; }
  bool take(char c) {
    if (done() || text[at] != c) return false;
    ++at;
    return true;
  }
  bool take_digits(int count, int* value) {
    int parsed = 0;
    for (int i = 0; i < count; ++i) {
      if (done() || text[at] < '0' || text[at] > '9') return false;
      parsed = parsed * 10 + (text[at++] - '0');
    }
    *value = parsed;
    return true;
  }
};

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// The wall-clock fields, in the extended form (2026-12-09T05:08:13) or the
// basic one (20261209T050813); the time follows the date's form.
bool read_civil(TimeText* in, CivilTime* civil) {
  if (!in->take_digits(4, &civil->year)) return false;
  const bool extended = in->take('-');
  if (!in->take_digits(2, &civil->month)) return false;
  if (extended && !in->take('-')) return false;
  if (!in->take_digits(2, &civil->day)) return false;
  // RFC 3339 lets a space stand for the T, "for readability".
  if (!in->take('T') && !in->take('t') && !(extended && in->take(' '))) return false;
  if (!in->take_digits(2, &civil->hour)) return false;
  if (extended && !in->take(':')) return false;
  if (!in->take_digits(2, &civil->minute)) return false;
  if (extended && !in->take(':')) return false;
  return in->take_digits(2, &civil->second);
}

// ".25" or ",25" (ISO 8601 allows either mark) as nanoseconds; -1 for more
// digits than a nanosecond holds.
int read_fraction(TimeText* in, std::int32_t* nanoseconds) {
  *nanoseconds = 0;
  if (!in->take('.') && !in->take(',')) return 0;
  int digits = 0;
  std::int32_t value = 0;
  while (in->peek() >= '0' && in->peek() <= '9') {
    if (++digits > MAX_FRACTION_DIGITS) return -1;
    value = value * 10 + (in->text[in->at++] - '0');
  }
  if (digits == 0) return -1;
  for (int i = digits; i < MAX_FRACTION_DIGITS; ++i) value *= 10;
  *nanoseconds = value;
  return 0;
}

// "Z", or an offset east of UTC: "+01:00", "+0100", "+01". 0 with the offset
// in seconds, -1 when there is none or it is malformed.
int read_zone(TimeText* in, int* offset_s, bool* has_zone) {
  *has_zone = !in->done();
  *offset_s = 0;
  if (in->take('Z') || in->take('z')) return 0;
  const bool east = in->peek() == '+';
  if (!in->take('+') && !in->take('-')) return -1;
  int hours = 0;
  int minutes = 0;
  if (!in->take_digits(2, &hours)) return -1;
  const bool colon = in->take(':');
  if ((colon || !in->done()) && !in->take_digits(2, &minutes)) return -1;
  if (hours > 23 || minutes > 59) return -1;
  *offset_s = (east ? 1 : -1) * (hours * SECONDS_PER_HOUR + minutes * SECONDS_PER_MINUTE);
  return 0;
}

struct tm tm_fields(const CivilTime& civil) {
  struct tm fields {};
  fields.tm_year = civil.year - 1900;
  fields.tm_mon = civil.month - 1;
  fields.tm_mday = civil.day;
  fields.tm_hour = civil.hour;
  fields.tm_min = civil.minute;
  fields.tm_sec = civil.second;
  return fields;
}

bool same_fields(const struct tm& fields, const CivilTime& civil) {
  return fields.tm_year == civil.year - 1900 && fields.tm_mon == civil.month - 1 && fields.tm_mday == civil.day &&
         fields.tm_hour == civil.hour && fields.tm_min == civil.minute && fields.tm_sec == civil.second;
}

// The seconds since the epoch of calendar fields taken as UTC, through the C
// library's calendar: timegm normalises out-of-range fields (February 30 to
// March 2), so fields that come back changed named no real date.
int civil_seconds(const CivilTime& civil, std::int64_t* seconds) {
  if (civil.year < MIN_UTC_YEAR || civil.year > MAX_UTC_YEAR) return -1;
  struct tm fields = tm_fields(civil);
  const time_t parsed = timegm(&fields);
  if (!same_fields(fields, civil)) return -1;
  *seconds = parsed;
  return 0;
}

// Says what is wrong with fields that civil_seconds refused.
std::string civil_fault(const CivilTime& civil) {
  char text[96];
  if (civil.year < MIN_UTC_YEAR || civil.year > MAX_UTC_YEAR) {
    std::snprintf(text, sizeof text, "year %d is outside 1970..9999", civil.year);
  } else if (civil.month < 1 || civil.month > 12) {
    std::snprintf(text, sizeof text, "month %d does not exist", civil.month);
  } else if (civil.second == 60) {
    std::snprintf(text, sizeof text, "second 60 is a leap second, which has no Unix time");
  } else if (civil.hour > 23 || civil.minute > 59 || civil.second > 59) {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d is not a time of day", civil.hour, civil.minute, civil.second);
  } else {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d is not a date", civil.year, civil.month, civil.day);
  }
  return text;
}

struct tm utc_fields(const UtcTime& time) {
  const time_t seconds = static_cast<time_t>(time.seconds);
  struct tm fields {};
  gmtime_r(&seconds, &fields);
  return fields;
}

// The instant through a format of year, month, day, hour, minute, second and
// millisecond, in that order.
std::string printed(const UtcTime& time, const char* format) {
  const struct tm fields = utc_fields(time);
  char text[80];
  std::snprintf(text, sizeof text, format, fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                fields.tm_min, fields.tm_sec, time.nanoseconds / 1'000'000);
  return text;
}

// The fields mktime gives back for one reading of the wall clock, and
// whether that reading kept them: a reading the clocks never showed comes
// back moved by the DST step.
bool local_reading(const CivilTime& civil, int is_dst, time_t* seconds) {
  struct tm fields = tm_fields(civil);
  fields.tm_isdst = is_dst;
  *seconds = mktime(&fields);
  return fields.tm_isdst == is_dst && same_fields(fields, civil);
}

__extension__ typedef unsigned __int128 Wide;

}  // namespace

int parse_utc_time(std::string_view text, UtcTime* time, Failure* failure) {
  TimeText in{text};
  CivilTime civil;
  std::int32_t nanoseconds = 0;
  if (!read_civil(&in, &civil) || read_fraction(&in, &nanoseconds) != 0) {
    *failure = Failure{quoted(text) + " is not a time such as 2026-12-09T05:08:13Z or 20261209T050813Z" +
                       " (at most nine fraction digits)"};
    return -1;
  }
  int offset_s = 0;
  bool has_zone = false;
  if (read_zone(&in, &offset_s, &has_zone) != 0 || !in.done()) {
    *failure = Failure{has_zone ? quoted(text) + " has no valid zone: end it with Z for UTC or an offset such as +01:00"
                                : quoted(text) + " has no time zone: add Z for UTC or an offset such as +01:00"};
    return -1;
  }
  std::int64_t local_seconds = 0;
  if (civil_seconds(civil, &local_seconds) != 0) {
    *failure = Failure{quoted(text) + ": " + civil_fault(civil)};
    return -1;
  }
  const std::int64_t seconds = local_seconds - offset_s;
  if (seconds < 0 || seconds > MAX_UTC_SECONDS) {
    *failure = Failure{quoted(text) + " lies outside 1970-01-01T00:00:00Z..9999-12-31T23:59:59Z"};
    return -1;
  }
  *time = UtcTime{seconds, nanoseconds};
  return 0;
}

std::string utc_time_rfc3339(const UtcTime& time) { return printed(time, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ"); }

std::string utc_time_file_name(const UtcTime& time) { return printed(time, "%04d%02d%02dT%02d%02d%02d.%03dZ"); }

std::string utc_date(const UtcTime& time) {
  const struct tm fields = utc_fields(time);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday);
  return text;
}

int utc_time_from_civil(const CivilTime& civil, UtcTime* time) {
  std::int64_t seconds = 0;
  if (civil_seconds(civil, &seconds) != 0) return -1;
  *time = UtcTime{seconds, 0};
  return 0;
}

int utc_time_from_local(const CivilTime& civil, UtcTime* time, Failure* failure) {
  char written[48];
  std::snprintf(written, sizeof written, "%04d-%02d-%02d %02d:%02d:%02d", civil.year, civil.month, civil.day,
                civil.hour, civil.minute, civil.second);
  std::int64_t unused = 0;
  if (civil_seconds(civil, &unused) != 0) {
    *failure = Failure{std::string(written) + ": " + civil_fault(civil)};
    return -1;
  }
  // Read the wall clock once as standard time and once as daylight saving
  // time: outside a change exactly one reading keeps the fields; in the hour
  // the clocks skip neither does, in the hour they repeat both do.
  tzset();
  time_t standard = 0;
  time_t daylight = 0;
  const bool as_standard = local_reading(civil, 0, &standard);
  const bool as_daylight = local_reading(civil, 1, &daylight);
  if (as_standard && as_daylight && standard != daylight) {
    *failure = Failure{std::string(written) +
                       " happened twice in local time (the clocks went back); give the time with its offset"};
    return -1;
  }
  if (!as_standard && !as_daylight) {
    *failure = Failure{std::string(written) + " never happened in local time (the clocks went forward)"};
    return -1;
  }
  const std::int64_t seconds = as_standard ? standard : daylight;
  if (seconds < 0 || seconds > MAX_UTC_SECONDS) {
    *failure = Failure{std::string(written) + " in local time lies outside 1970..9999 in UTC"};
    return -1;
  }
  *time = UtcTime{seconds, 0};
  return 0;
}

int utc_time_from_unix_ms(std::int64_t milliseconds, UtcTime* time) {
  if (milliseconds < 0 || milliseconds / 1000 > MAX_UTC_SECONDS) return -1;
  *time = UtcTime{milliseconds / 1000, static_cast<std::int32_t>(milliseconds % 1000) * 1'000'000};
  return 0;
}

int utc_time_at_sample(const UtcTime& start, std::uint64_t sample_index, double sample_rate, UtcTime* instant) {
  if (!(sample_rate >= MIN_TIMED_SAMPLE_RATE && sample_rate <= MAX_TIMED_SAMPLE_RATE)) return -1;
  // The rate exactly as the double holds it, mantissa / 2^shift: with the
  // rate at least 1 the shift is at most 52, so index << shift fits in 128
  // bits and the division below is exact but for its one rounding.
  int exponent = 0;
  const double fraction = std::frexp(sample_rate, &exponent);
  auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  int shift = 53 - exponent;
  while (shift > 0 && (mantissa & 1) == 0) {
    mantissa >>= 1;
    --shift;
  }
  const Wide scaled_index = Wide{sample_index} << shift;
  const Wide whole_seconds = scaled_index / mantissa;
  const Wide remainder = scaled_index % mantissa;
  Wide nanoseconds = (remainder * NANOSECONDS_PER_SECOND + mantissa / 2) / mantissa;
  Wide seconds = Wide(static_cast<std::uint64_t>(start.seconds)) + whole_seconds;
  nanoseconds += static_cast<std::uint32_t>(start.nanoseconds);
  if (nanoseconds >= NANOSECONDS_PER_SECOND) {
    nanoseconds -= NANOSECONDS_PER_SECOND;
    seconds += 1;
  }
  if (start.seconds < 0 || seconds > MAX_UTC_SECONDS) return -1;
  *instant = UtcTime{static_cast<std::int64_t>(seconds), static_cast<std::int32_t>(nanoseconds)};
  return 0;
}

int utc_time_before_samples(const UtcTime& later, std::uint64_t sample_count, double sample_rate, UtcTime* instant) {
  UtcTime span;
  if (utc_time_at_sample(UtcTime{}, sample_count, sample_rate, &span) != 0) return -1;
  std::int64_t seconds = later.seconds - span.seconds;
  std::int32_t nanoseconds = later.nanoseconds - span.nanoseconds;
  if (nanoseconds < 0) {
    nanoseconds += NANOSECONDS_PER_SECOND;
    seconds -= 1;
  }
  if (seconds < 0) return -1;
  *instant = UtcTime{seconds, nanoseconds};
  return 0;
}

}  // namespace kdsp
