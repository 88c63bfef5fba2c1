#include "radio/live/rtl_tcp_protocol.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "base/byte_order.h"

namespace kdsp {

namespace {

struct CodeName {
  RtlTcpCode code;
  const char* name;
};

constexpr CodeName CODE_NAMES[] = {
    {RtlTcpCode::SET_FREQUENCY, "set frequency"},
    {RtlTcpCode::SET_SAMPLE_RATE, "set sample rate"},
    {RtlTcpCode::SET_GAIN_MODE, "set gain mode"},
    {RtlTcpCode::SET_GAIN, "set gain"},
    {RtlTcpCode::SET_FREQUENCY_CORRECTION, "set frequency correction"},
    {RtlTcpCode::SET_IF_GAIN, "set if gain"},
    {RtlTcpCode::SET_TEST_MODE, "set test mode"},
    {RtlTcpCode::SET_AGC_MODE, "set agc mode"},
    {RtlTcpCode::SET_DIRECT_SAMPLING, "set direct sampling"},
    {RtlTcpCode::SET_OFFSET_TUNING, "set offset tuning"},
    {RtlTcpCode::SET_RTL_XTAL, "set rtl xtal"},
    {RtlTcpCode::SET_TUNER_XTAL, "set tuner xtal"},
    {RtlTcpCode::SET_GAIN_BY_INDEX, "set gain by index"},
    {RtlTcpCode::SET_BIAS_TEE, "set bias tee"},
};

// Codes whose parameter the server reads as a signed int.
bool has_signed_parameter(std::uint8_t code) {
  return code == static_cast<std::uint8_t>(RtlTcpCode::SET_GAIN) ||
         code == static_cast<std::uint8_t>(RtlTcpCode::SET_FREQUENCY_CORRECTION);
}

RtlTcpCommand command(RtlTcpCode code, std::uint32_t parameter) { return {static_cast<std::uint8_t>(code), parameter}; }

RtlTcpCommand signed_command(RtlTcpCode code, std::int32_t parameter) {
  return command(code, static_cast<std::uint32_t>(parameter));
}

// What a peer that is not an rtl_tcp server sent: its printable start
// ("SSH-2.0-Ope"), or its bytes in hex.
std::string peer_bytes_text(std::span<const std::uint8_t> bytes) {
  const bool printable = std::all_of(bytes.begin(), bytes.end(),
                                     [](std::uint8_t b) { return (b >= 0x20 && b < 0x7f) || b == '\r' || b == '\n'; });
  std::string text;
  char hex[4];
  for (std::uint8_t b : bytes) {
    if (printable) {
      text += (b == '\r' || b == '\n') ? ' ' : static_cast<char>(b);
    } else {
      std::snprintf(hex, sizeof hex, "%s%02x", text.empty() ? "" : " ", b);
      text += hex;
    }
  }
  return printable ? "'" + text + "'" : text;
}

// `value` rounded to a whole number within [low, high], or -1.
int whole_in_range(double value, double low, double high, double* rounded) {
  if (!std::isfinite(value)) return -1;
  const double r = std::nearbyint(value);
  if (r < low || r > high) return -1;
  *rounded = r;
  return 0;
}

int add_correction(const LiveSourceRequest& request, std::vector<RtlTcpCommand>* commands, Failure* failure) {
  if (!request.ppm) return 0;
  double ppm = 0.0;
  if (whole_in_range(*request.ppm, -1000.0, 1000.0, &ppm) != 0 || ppm != *request.ppm) {
    *failure = Failure{"rtl_tcp corrects the frequency in whole ppm from -1000 to 1000, not " +
                       live_number_text(*request.ppm)};
    return -1;
  }
  commands->push_back(signed_command(RtlTcpCode::SET_FREQUENCY_CORRECTION, static_cast<std::int32_t>(ppm)));
  return 0;
}

int add_rate(const LiveSourceRequest& request, std::vector<RtlTcpCommand>* commands, Failure* failure) {
  double rate = 0.0;
  constexpr double MAX_U32 = std::numeric_limits<std::uint32_t>::max();
  if (whole_in_range(request.sample_rate, 1.0, MAX_U32, &rate) != 0 || rate != request.sample_rate) {
    *failure = Failure{"rtl_tcp needs a sample rate of a whole number of pairs per second (--rate), not " +
                       live_number_text(request.sample_rate)};
    return -1;
  }
  commands->push_back(command(RtlTcpCode::SET_SAMPLE_RATE, static_cast<std::uint32_t>(rate)));
  return 0;
}

int add_centre(const LiveSourceRequest& request, std::vector<RtlTcpCommand>* commands, Failure* failure) {
  if (!request.centre_hz) return 0;
  double centre_hz = 0.0;
  if (whole_in_range(*request.centre_hz, 0.0, std::numeric_limits<std::uint32_t>::max(), &centre_hz) != 0) {
    *failure = Failure{"rtl_tcp tunes from 0 to 4294967295 Hz, not " + live_number_text(*request.centre_hz)};
    return -1;
  }
  commands->push_back(command(RtlTcpCode::SET_FREQUENCY, static_cast<std::uint32_t>(centre_hz)));
  return 0;
}

int add_gain(const LiveSourceRequest& request, std::vector<RtlTcpCommand>* commands, Failure* failure) {
  if (!request.gain_db) {
    commands->push_back(command(RtlTcpCode::SET_GAIN_MODE, 0));
    return 0;
  }
  double tenths = 0.0;
  if (whole_in_range(*request.gain_db * 10.0, -1000.0, 1000.0, &tenths) != 0) {
    *failure = Failure{"rtl_tcp takes a gain from -100 to 100 dB, not " + live_number_text(*request.gain_db)};
    return -1;
  }
  commands->push_back(command(RtlTcpCode::SET_GAIN_MODE, 1));
  commands->push_back(signed_command(RtlTcpCode::SET_GAIN, static_cast<std::int32_t>(tenths)));
  return 0;
}

}  // namespace

bool operator==(const RtlTcpCommand& a, const RtlTcpCommand& b) {
  return a.code == b.code && a.parameter == b.parameter;
}

const char* rtl_tcp_tuner_name(std::uint32_t tuner_type) {
  return tuner_type < RTL_TCP_TUNER_NAMES.size() ? RTL_TCP_TUNER_NAMES[tuner_type] : "unknown";
}

int parse_rtl_tcp_greeting(std::span<const std::uint8_t> bytes, RtlTcpGreeting* greeting, Failure* failure) {
  if (bytes.size() != RTL_TCP_GREETING_BYTES) {
    *failure = Failure{"the greeting is " + std::to_string(bytes.size()) + " bytes, not " +
                       std::to_string(RTL_TCP_GREETING_BYTES)};
    return -1;
  }
  if (!std::equal(RTL_TCP_MAGIC.begin(), RTL_TCP_MAGIC.end(), bytes.begin())) {
    *failure =
        Failure{"the peer is not an rtl_tcp server: it greeted with " + peer_bytes_text(bytes) + " instead of 'RTL0'"};
    return -1;
  }
  greeting->tuner_type = read_be32(bytes.data() + 4);
  greeting->gain_count = read_be32(bytes.data() + 8);
  return 0;
}

std::array<std::uint8_t, RTL_TCP_GREETING_BYTES> format_rtl_tcp_greeting(const RtlTcpGreeting& greeting) {
  std::array<std::uint8_t, RTL_TCP_GREETING_BYTES> bytes{};
  std::copy(RTL_TCP_MAGIC.begin(), RTL_TCP_MAGIC.end(), bytes.begin());
  write_be32(bytes.data() + 4, greeting.tuner_type);
  write_be32(bytes.data() + 8, greeting.gain_count);
  return bytes;
}

std::array<std::uint8_t, RTL_TCP_COMMAND_BYTES> encode_rtl_tcp_command(const RtlTcpCommand& command) {
  std::array<std::uint8_t, RTL_TCP_COMMAND_BYTES> bytes{command.code};
  write_be32(bytes.data() + 1, command.parameter);
  return bytes;
}

RtlTcpCommand decode_rtl_tcp_command(std::span<const std::uint8_t, RTL_TCP_COMMAND_BYTES> bytes) {
  return {bytes[0], read_be32(bytes.data() + 1)};
}

std::string describe_rtl_tcp_command(const RtlTcpCommand& command) {
  const std::string value = has_signed_parameter(command.code)
                                ? std::to_string(static_cast<std::int32_t>(command.parameter))
                                : std::to_string(command.parameter);
  for (const CodeName& entry : CODE_NAMES) {
    if (static_cast<std::uint8_t>(entry.code) == command.code) return std::string(entry.name) + " " + value;
  }
  char code[8];
  std::snprintf(code, sizeof code, "0x%02x", command.code);
  return std::string("command ") + code + " " + value;
}

int rtl_tcp_setup_commands(const LiveSourceRequest& request, std::vector<RtlTcpCommand>* commands, Failure* failure) {
  std::vector<RtlTcpCommand> list;
  if (add_correction(request, &list, failure) != 0 || add_rate(request, &list, failure) != 0 ||
      add_centre(request, &list, failure) != 0 || add_gain(request, &list, failure) != 0) {
    return -1;
  }
  *commands = std::move(list);
  return 0;
}

}  // namespace kdsp
