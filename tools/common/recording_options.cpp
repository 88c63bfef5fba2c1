#include "common/recording_options.h"

#include "radio/base/option_value.h"

namespace kdsp {

CLI::Option* add_frequency_option(CLI::App& app, const std::string& name, std::optional<double>* target,
                                  const std::string& expected) {
  return add_checked_option(app, name, [target, expected](const std::string& text) {
    double value = 0.0;
    if (parse_frequency_option(text.c_str(), -MAX_FREQUENCY_HZ, MAX_FREQUENCY_HZ, &value) != 0) return expected;
    *target = value;
    return std::string();
  });
}

CLI::Option* add_start_time_option(CLI::App& app, std::optional<UtcTime>* target) {
  return add_checked_option(app, "--start-time", [target](const std::string& text) {
    UtcTime start;
    Failure failure;
    if (parse_utc_time(text, &start, &failure) != 0) {
      return std::string("a time with its zone, such as 2026-12-09T05:08:13Z or 2026-12-09T06:08:13.250+01:00");
    }
    *target = start;
    return std::string();
  });
}

CLI::Option* add_recording_argument(CLI::App& app, RecordingRequest* request) {
  return add_path_option(app, "RECORDING", &request->path)
      ->required()
      ->type_name("")
      ->description(
          "the recording: NAME.iq (a kdsp capture), NAME.cu8 .cs8\n"
          ".cs16 .cf32 (raw I/Q; give --rate), NAME.wav (I left,\n"
          "Q right), NAME.sigmf-meta or NAME.sigmf-data");
}

void add_recording_format_options(CLI::App& app, RecordingRequest* request, const std::string& centre_use) {
  add_checked_option(app, "--format",
                     [request](const std::string& text) {
                       SampleFormat format;
                       if (parse_sample_format(text, &format) != 0) return sample_format_choices();
                       request->format = format;
                       return std::string();
                     })
      ->type_name("F")
      ->description("read RECORDING as raw I/Q of format F (cu8, cs8,\ncs16, cf32, cs32) whatever its name says");
  add_checked_option(
      app, "--rate",
      [request](const std::string& text) {
        double rate = 0.0;
        if (parse_frequency_option(text.c_str(), MIN_SAMPLE_RATE, MAX_SAMPLE_RATE, &rate) != 0) {
          return std::string("pairs per second from 1k to 1G, such as 2400000, 2.4M, 2.4e6 or 240k");
        }
        request->sample_rate = rate;
        return std::string();
      })
      ->type_name("R")
      ->description("pairs per second: 2400000, 2.4M, 2.4e6, 240k");
  add_frequency_option(app, "--center", &request->centre_hz, "a frequency in Hz such as 145.5M")
      ->type_name("HZ")
      ->description("the recording's centre frequency " + centre_use);
  add_start_time_option(app, &request->start_time)
      ->type_name("TIME")
      ->description(
          "when the recording's first sample was taken (RFC 3339,\nwith Z or an offset); else SigMF metadata, an .sdriq\n"
          "header or a recorder's file name may say");
}

}  // namespace kdsp
