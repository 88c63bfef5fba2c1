#include "radio/meta/recording_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kdsp {
namespace {

RecordingName matched(const char* file_name) {
  RecordingName name;
  EXPECT_EQ(parse_recording_name(file_name, &name), 0) << file_name;
  return name;
}

void expect_start(const RecordingName& name, CivilTime expected) {
  EXPECT_EQ(name.start.year, expected.year);
  EXPECT_EQ(name.start.month, expected.month);
  EXPECT_EQ(name.start.day, expected.day);
  EXPECT_EQ(name.start.hour, expected.hour);
  EXPECT_EQ(name.start.minute, expected.minute);
  EXPECT_EQ(name.start.second, expected.second);
}

TEST(RecordingNames, ReadsGqrxIqRecordingsAsUtcWithCentreRateAndFormat) {
  const RecordingName name = matched("/home/op/gqrx_20261209_050813_145500000_2400000_fc.raw");
  EXPECT_STREQ(name.recorder, "gqrx");
  EXPECT_EQ(name.time_base, NameTimeBase::UTC);
  expect_start(name, CivilTime{2026, 12, 9, 5, 8, 13});
  EXPECT_EQ(name.centre_hz, 145'500'000.0);
  EXPECT_EQ(name.sample_rate, 2'400'000.0);
  EXPECT_STREQ(name.sample_format, "cf32");
  UtcTime start;
  ASSERT_EQ(utc_time_from_civil(name.start, &start), 0);
  EXPECT_EQ(utc_time_rfc3339(start), "2026-12-09T05:08:13.000Z");
  // A decimated input rate as gqrx writes it (sr/dec, whole hertz).
  EXPECT_EQ(matched("gqrx_20250725_070930_1075000000_2409638_fc.raw").sample_rate, 2'409'638.0);
}

TEST(RecordingNames, ReadsSdrPlusPlusBasebandNamesAsLocalTime) {
  const RecordingName name = matched("baseband_145500000Hz_06-08-13_09-12-2026.wav");
  EXPECT_STREQ(name.recorder, "SDR++");
  EXPECT_EQ(name.time_base, NameTimeBase::LOCAL);
  expect_start(name, CivilTime{2026, 12, 9, 6, 8, 13});
  EXPECT_EQ(name.centre_hz, 145'500'000.0);
  EXPECT_FALSE(name.sample_rate);        // in the WAV header
  EXPECT_STREQ(name.sample_format, "");  // in the WAV header
}

TEST(RecordingNames, ReadsSdrSharpIqNamesInHzAndKhzAsUtc) {
  const RecordingName hz = matched("SDRSharp_20170830_073907Z_145825000Hz_IQ.wav");
  EXPECT_STREQ(hz.recorder, "SDR#");
  EXPECT_EQ(hz.time_base, NameTimeBase::UTC);
  expect_start(hz, CivilTime{2017, 8, 30, 7, 39, 7});
  EXPECT_EQ(hz.centre_hz, 145'825'000.0);
  EXPECT_FALSE(hz.sample_rate);
  EXPECT_EQ(matched("SDRSharp_20170312_060959Z_137650kHz_IQ.wav").centre_hz, 137'650'000.0);
}

TEST(RecordingNames, TakesNothingFromNamesThatAreNotExactlyARecordersForm) {
  for (const char* file_name : {
           "", "capture.cu8",
           "gqrx_20261209_050813_145500000.wav",                 // gqrx's audio recorder
           "gqrx_20261209_050813_145500000_2400000_fc.raw.bak",  // renamed
           "my_gqrx_20261209_050813_145500000_2400000_fc.raw",   // prefixed
           "gqrx_20260230_050813_145500000_2400000_fc.raw",      // 30 February
           "gqrx_20261209_250813_145500000_2400000_fc.raw",      // hour 25
           "gqrx_19691231_235959_145500000_2400000_fc.raw",      // before 1970
           "gqrx_20261209_050813_145500000_0_fc.raw",            // rate 0
           "gqrx_20261209_050813_1455000000000_2400000_fc.raw",  // 13-digit centre
           "gqrx_2026129_050813_145500000_2400000_fc.raw",       // short date
           "gqrx_20261209_050813__2400000_fc.raw",               // no centre
           "gqrx_20261209_050813_-145500000_2400000_fc.raw",
           "audio_145500000Hz_06-08-13_09-12-2026.wav",  // SDR++ audio
           "baseband_145500000Hz_06-08-13_31-02-2026.wav", "station1_yagi_SDRSharp_20170312_060959Z_137650kHz_IQ.wav",
           "SDRSharp_20170830_073907_145825000Hz_IQ.wav",   // no Z: zone unknown
           "SDRSharp_20170830_073907Z_145825000Hz_AF.wav",  // SDR#'s audio recorder
       }) {
    RecordingName name;
    name.recorder = "untouched";
    EXPECT_EQ(parse_recording_name(file_name, &name), -1) << file_name;
    EXPECT_STREQ(name.recorder, "untouched") << file_name;
  }
}

}  // namespace
}  // namespace kdsp
