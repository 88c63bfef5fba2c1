#include "radio/live/live_source.h"

#include <unistd.h>

#include <cstdio>

#include "radio/live/fd_source.h"
#include "radio/live/rtl_tcp.h"
#include "radio/live/soapy_source.h"

namespace kdsp {

namespace {

constexpr std::string_view STANDARD_INPUT_NAME = "-";
constexpr std::string_view RTL_TCP_PREFIX = "rtl_tcp://";
constexpr std::string_view SOAPY_PREFIX = "soapy:";

std::unique_ptr<LiveSource> open_standard_input(const LiveSourceRequest& request, LiveStop& stop) {
  FdSourceOptions options;
  options.format = request.format;
  options.owns_fd = false;
  options.name = "standard input";
  options.info.sample_rate = request.sample_rate;
  options.info.centre_hz = request.centre_hz;
  options.info.description = std::string("standard input, ") + sample_format_name(request.format) + " at " +
                             live_number_text(request.sample_rate) + " pairs/s";
  return make_fd_source(STDIN_FILENO, options, stop);
}

// Settings a pipe of bytes cannot apply: refused rather than ignored.
int check_standard_input_request(const LiveSourceRequest& request, Failure* failure) {
  const char* setting = request.gain_db            ? "a gain"
                        : request.ppm              ? "a frequency correction"
                        : !request.antenna.empty() ? "an antenna"
                                                   : nullptr;
  if (setting != nullptr) {
    *failure = Failure{std::string("standard input carries samples only: ") + setting +
                       " must be set on the program that writes them"};
    return -1;
  }
  if (!(request.sample_rate > 0.0)) {
    *failure = Failure{"standard input needs its sample rate (--rate)"};
    return -1;
  }
  return 0;
}

}  // namespace

std::string live_number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

int open_live_source(const LiveSourceRequest& request, LiveStop& stop, std::unique_ptr<LiveSource>* source,
                     Failure* failure) {
  switch (request.kind) {
    case LiveSourceKind::STANDARD_INPUT:
      if (check_standard_input_request(request, failure) != 0) return -1;
      *source = open_standard_input(request, stop);
      return 0;
    case LiveSourceKind::RTL_TCP: return open_rtl_tcp_source(request, stop, source, failure);
    case LiveSourceKind::SOAPY: return open_soapy_source(request, stop, source, failure);
  }
  *failure = Failure{"unknown kind of live source"};
  return -1;
}

bool is_live_source_name(std::string_view name) {
  return name == STANDARD_INPUT_NAME || name.starts_with(RTL_TCP_PREFIX) || name.starts_with(SOAPY_PREFIX);
}

int parse_live_source_name(std::string_view name, LiveSourceRequest* request, Failure* failure) {
  if (name == STANDARD_INPUT_NAME) {
    request->kind = LiveSourceKind::STANDARD_INPUT;
    request->address.clear();
    return 0;
  }
  if (name.starts_with(RTL_TCP_PREFIX)) {
    const std::string_view address = name.substr(RTL_TCP_PREFIX.size());
    if (address.empty()) {
      *failure = Failure{"'" + std::string(name) + "' names no server: rtl_tcp://HOST:PORT (rtl_tcp://127.0.0.1:1234)"};
      return -1;
    }
    request->kind = LiveSourceKind::RTL_TCP;
    request->address = address;
    return 0;
  }
  if (name.starts_with(SOAPY_PREFIX)) {
    // Empty arguments are SoapySDR's "the first device found".
    request->kind = LiveSourceKind::SOAPY;
    request->address = name.substr(SOAPY_PREFIX.size());
    return 0;
  }
  *failure = Failure{"'" + std::string(name) + "' is not a live source: -, rtl_tcp://HOST:PORT or soapy:ARGS"};
  return -1;
}

}  // namespace kdsp
