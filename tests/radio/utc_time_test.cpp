#include "radio/meta/utc_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

namespace kdsp {
namespace {

// 2026-12-09T05:08:13Z, worked out apart from the code under test.
constexpr std::int64_t DEC_9_2026_05_08_13 = 1796792893;

UtcTime parsed(const char* text) {
  UtcTime time{-1, -1};
  Failure error;
  EXPECT_EQ(parse_utc_time(text, &time, &error), 0) << text << ": " << error;
  return time;
}

std::string refusal(const char* text) {
  UtcTime time{7, 7};
  Failure error;
  EXPECT_EQ(parse_utc_time(text, &time, &error), -1) << text;
  EXPECT_EQ(time, (UtcTime{7, 7})) << "left untouched: " << text;
  return failure_text(error);
}

TEST(UtcTime, ReadsOneInstantWrittenInEveryZoneAndForm) {
  for (const char* text :
       {"2026-12-09T05:08:13Z", "2026-12-09t05:08:13z", "2026-12-09 05:08:13Z", "2026-12-09T06:08:13+01:00",
        "2026-12-09T06:08:13+0100", "2026-12-09T06:08:13+01", "2026-12-08T23:08:13-06:00", "2026-12-09T10:38:13+05:30",
        "2026-12-09T05:08:13-00:00", "20261209T050813Z", "20261209T060813+0100"}) {
    EXPECT_EQ(parsed(text), (UtcTime{DEC_9_2026_05_08_13, 0})) << text;
  }
}

TEST(UtcTime, KeepsFractionsToTheNanosecondAndPrintsMilliseconds) {
  EXPECT_EQ(parsed("2026-12-09T06:08:13.250+01:00"), (UtcTime{DEC_9_2026_05_08_13, 250'000'000}));
  EXPECT_EQ(parsed("2026-12-09T05:08:13,5Z"), (UtcTime{DEC_9_2026_05_08_13, 500'000'000}));
  EXPECT_EQ(parsed("2026-12-09T05:08:13.123456789Z"), (UtcTime{DEC_9_2026_05_08_13, 123'456'789}));
  const UtcTime time = parsed("2026-12-09T06:08:13.2509+01:00");
  EXPECT_EQ(utc_time_rfc3339(time), "2026-12-09T05:08:13.250Z");  // truncated, never ahead
  EXPECT_EQ(utc_time_file_name(time), "20261209T050813.250Z");
  EXPECT_EQ(utc_date(time), "2026-12-09");
  // Both written forms read back as the same instant, to the millisecond.
  EXPECT_EQ(parsed(utc_time_rfc3339(time).c_str()), (UtcTime{DEC_9_2026_05_08_13, 250'000'000}));
  EXPECT_EQ(parsed(utc_time_file_name(time).c_str()), (UtcTime{DEC_9_2026_05_08_13, 250'000'000}));
  EXPECT_EQ(utc_time_rfc3339(UtcTime{0, 0}), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(utc_time_rfc3339(parsed("9999-12-31T23:59:59.999Z")), "9999-12-31T23:59:59.999Z");
}

TEST(UtcTime, OffsetsAcrossADaylightSavingChangeGiveTheRealInterval) {
  // Central Europe, spring 2026: 01:30 CET and 03:30 CEST are an hour apart
  // though the wall clocks read two hours apart.
  EXPECT_EQ(parsed("2026-03-29T03:30:00+02:00").seconds - parsed("2026-03-29T01:30:00+01:00").seconds, 3600);
  // Autumn: the same wall-clock time twice, an hour apart.
  EXPECT_EQ(parsed("2026-10-25T02:30:00+01:00").seconds - parsed("2026-10-25T02:30:00+02:00").seconds, 3600);
}

TEST(UtcTime, KnowsTheLeapYears) {
  EXPECT_EQ(parsed("2024-02-29T12:00:00Z").seconds, 1709208000);
  EXPECT_EQ(parsed("2000-02-29T00:00:00Z").seconds - parsed("2000-02-28T00:00:00Z").seconds, 86400);
  EXPECT_NE(refusal("2025-02-29T12:00:00Z").find("2025-02-29 is not a date"), std::string::npos);
  EXPECT_NE(refusal("2100-02-29T12:00:00Z").find("not a date"), std::string::npos);
  EXPECT_NE(refusal("2026-04-31T00:00:00Z").find("not a date"), std::string::npos);
}

TEST(UtcTime, RefusesWhatIsNoInstantAndSaysWhy) {
  const struct {
    const char* text;
    const char* why;
  } cases[] = {
      {"2026-12-09T05:08:13", "has no time zone: add Z for UTC or an offset such as +01:00"},
      {"20261209T050813", "has no time zone"},
      {"2026-12-09T05:08:13.250", "has no time zone"},
      {"2026-13-09T05:08:13Z", "month 13 does not exist"},
      {"2026-00-09T05:08:13Z", "month 0 does not exist"},
      {"1969-12-31T23:59:59Z", "year 1969 is outside 1970..9999"},
      {"1970-01-01T00:30:00+01:00", "lies outside 1970-01-01T00:00:00Z..9999-12-31T23:59:59Z"},
      {"9999-12-31T23:59:59-01:00", "lies outside"},
      {"2016-12-31T23:59:60Z", "second 60 is a leap second"},
      {"2026-12-09T24:00:00Z", "24:00:00 is not a time of day"},
      {"2026-12-09T05:08:13+24:00", "has no valid zone"},
      {"2026-12-09T05:08:13+01:", "has no valid zone"},
      {"2026-12-09T05:08:13Zulu", "has no valid zone"},
      {"2026-12-09T05:08:13.1234567891Z", "at most nine fraction digits"},
  };
  for (const auto& c : cases) {
    const std::string error = refusal(c.text);
    EXPECT_NE(error.find(c.why), std::string::npos) << c.text << ": " << error;
    EXPECT_EQ(error.find(std::string("'") + c.text + "'"), 0u) << "names the text: " << error;
  }
  for (const char* text : {"", "2026-12-09", "2026-12-09T05:08Z", "2026-12-09T05:08:13.Z", "10000-01-01T00:00:00Z",
                           "2026-12-09T050813Z", "20261209T05:08:13Z", "2026-12-09X05:08:13Z", "20261209 050813Z",
                           " 2026-12-09T05:08:13Z", "-2026-12-09T05:08:13Z", "2026-1-09T05:08:13Z"}) {
    EXPECT_NE(refusal(text).find("is not a time such as"), std::string::npos) << text;
  }
}

TEST(UtcTime, AnHourOfSamplesAt2400000PerSecondEndsExactlyAnHourLater) {
  const UtcTime start{DEC_9_2026_05_08_13, 250'000'000};
  UtcTime instant;
  ASSERT_EQ(utc_time_at_sample(start, 8'640'000'000, 2.4e6, &instant), 0);
  EXPECT_EQ(instant, (UtcTime{DEC_9_2026_05_08_13 + 3600, 250'000'000}));
  // Every second boundary of the hour, and every sample after one, against
  // the plain arithmetic for a whole-number rate.
  for (std::uint64_t second = 0; second <= 3600; second += 7) {
    for (std::uint64_t extra : {0ULL, 1ULL, 2ULL, 1'199'999ULL, 1'200'000ULL, 2'399'999ULL}) {
      const std::uint64_t index = second * 2'400'000 + extra;
      ASSERT_EQ(utc_time_at_sample(UtcTime{DEC_9_2026_05_08_13, 0}, index, 2.4e6, &instant), 0);
      const std::uint64_t nanoseconds = (extra * 1'000'000'000ULL + 1'200'000) / 2'400'000;  // halves up
      EXPECT_EQ(instant, (UtcTime{DEC_9_2026_05_08_13 + static_cast<std::int64_t>(second),
                                  static_cast<std::int32_t>(nanoseconds)}))
          << index;
    }
  }
}

TEST(UtcTime, AFractionalRateIsTimedFromItsExactValue) {
  // 2.5 MS/s decimated by 3: no whole number of samples per second.
  const double rate = 2.5e6 / 3.0;
  UtcTime instant;
  for (std::uint64_t index : {1ULL, 833'333ULL, 833'334ULL, 3'000'000'000ULL, 2'999'999'999ULL}) {
    ASSERT_EQ(utc_time_at_sample(UtcTime{0, 0}, index, rate, &instant), 0);
    const long double exact_s = static_cast<long double>(index) / static_cast<long double>(rate);
    const long double got_s = static_cast<long double>(instant.seconds) + instant.nanoseconds * 1e-9L;
    EXPECT_NEAR(static_cast<double>(got_s - exact_s), 0.0, 0.6e-9) << index;
  }
}

TEST(UtcTime, CarriesNanosecondsIntoTheNextSecond) {
  UtcTime instant;
  ASSERT_EQ(utc_time_at_sample(UtcTime{100, 999'999'800}, 1, 2.4e6, &instant), 0);
  EXPECT_EQ(instant, (UtcTime{101, 217}));
}

TEST(UtcTime, RefusesRatesItCannotTimeAndInstantsPast9999) {
  UtcTime instant{5, 5};
  for (double rate :
       {0.0, -2.4e6, 0.5, 2e12, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(utc_time_at_sample(UtcTime{0, 0}, 10, rate, &instant), -1) << rate;
  }
  EXPECT_EQ(utc_time_at_sample(parsed("9999-12-31T23:59:59Z"), 2, 1.0, &instant), -1);
  EXPECT_EQ(utc_time_at_sample(UtcTime{0, 0}, ~0ULL, 1.0, &instant), -1);
  EXPECT_EQ(instant, (UtcTime{5, 5}));
}

TEST(UtcTime, ReadsMillisecondStamps) {
  UtcTime time;
  ASSERT_EQ(utc_time_from_unix_ms(1796792893250, &time), 0);
  EXPECT_EQ(time, (UtcTime{DEC_9_2026_05_08_13, 250'000'000}));
  EXPECT_EQ(utc_time_from_unix_ms(-1, &time), -1);
  EXPECT_EQ(utc_time_from_unix_ms(253402300800000, &time), -1);
}

// Runs with the process's zone set to Central European time, as a POSIX rule
// so that no zone database is needed, and puts the zone back afterwards.
class LocalTimeInCentralEurope : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* zone = std::getenv("TZ");
    if (zone != nullptr) saved_ = zone;
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
  }
  void TearDown() override {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::optional<std::string> saved_;
};

TEST_F(LocalTimeInCentralEurope, ConvertsWallClockTimesThatHappenedOnce) {
  UtcTime time;
  Failure error;
  ASSERT_EQ(utc_time_from_local(CivilTime{2026, 7, 1, 12, 0, 0}, &time, &error), 0) << error;
  EXPECT_EQ(time, parsed("2026-07-01T10:00:00Z"));
  ASSERT_EQ(utc_time_from_local(CivilTime{2026, 1, 15, 12, 0, 0}, &time, &error), 0) << error;
  EXPECT_EQ(time, parsed("2026-01-15T11:00:00Z"));
  ASSERT_EQ(utc_time_from_local(CivilTime{2026, 3, 29, 3, 0, 0}, &time, &error), 0) << error;
  EXPECT_EQ(time, parsed("2026-03-29T01:00:00Z"));
}

TEST_F(LocalTimeInCentralEurope, RefusesTheHoursADaylightSavingChangeSkipsOrRepeats) {
  UtcTime time{3, 3};
  Failure error;
  EXPECT_EQ(utc_time_from_local(CivilTime{2026, 3, 29, 2, 30, 0}, &time, &error), -1);
  EXPECT_NE(failure_text(error).find("never happened"), std::string::npos) << error;
  EXPECT_EQ(utc_time_from_local(CivilTime{2026, 10, 25, 2, 30, 0}, &time, &error), -1);
  EXPECT_NE(failure_text(error).find("happened twice"), std::string::npos) << error;
  EXPECT_EQ(utc_time_from_local(CivilTime{2026, 2, 30, 12, 0, 0}, &time, &error), -1);
  EXPECT_NE(failure_text(error).find("not a date"), std::string::npos) << error;
  EXPECT_EQ(time, (UtcTime{3, 3}));
}

}  // namespace
}  // namespace kdsp
