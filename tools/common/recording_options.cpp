#include "common/recording_options.h"

#include "radio/io/option_value.h"

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
                       if (parse_sample_format(text, &format) != 0) return std::string("cu8, cs8, cs16 or cf32");
                       request->format = format;
                       return std::string();
                     })
      ->type_name("F")
      ->description("read RECORDING as raw I/Q of format F (cu8, cs8,\ncs16, cf32) whatever its name says");
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
}

}  // namespace kdsp
