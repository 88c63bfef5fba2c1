// The rtl_tcp wire protocol as its server speaks it (src/rtl_tcp.c of
// osmocom's rtl-sdr: the dongle_info_t greeting and command_worker's
// switch), as pure functions on bytes: no sockets here, so that the client,
// the test server and the fuzz harness share one reading of it.
//
// Server to client, once on connect, the greeting (12 bytes), then raw cu8
// I/Q until either side closes:
//
//   0        4                8                12
//   +--------+----------------+----------------+
//   | "RTL0" | tuner type     | gain count     |   u32 big-endian each
//   +--------+----------------+----------------+
//
// Client to server, at any time, commands of 5 bytes with no framing:
//
//   0      1                5
//   +------+----------------+
//   | code | parameter      |   u32 big-endian; signed values in two's complement
//   +------+----------------+
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "radio/live/live_source.h"

#include "radio/base/failure.h"

namespace kdsp {

inline constexpr std::size_t RTL_TCP_GREETING_BYTES = 12;
inline constexpr std::size_t RTL_TCP_COMMAND_BYTES = 5;
inline constexpr std::array<std::uint8_t, 4> RTL_TCP_MAGIC = {'R', 'T', 'L', '0'};

struct RtlTcpGreeting {
  std::uint32_t tuner_type = 0;  // RTL_TCP_TUNER_NAMES index
  std::uint32_t gain_count = 0;  // manual gain steps the tuner offers
};

// librtlsdr's enum rtlsdr_tuner, in order.
inline constexpr std::array<const char*, 7> RTL_TCP_TUNER_NAMES = {"unknown", "E4000", "FC0012", "FC0013",
                                                                   "FC2580",  "R820T", "R828D"};

enum class RtlTcpCode : std::uint8_t {
  SET_FREQUENCY = 0x01,             // Hz
  SET_SAMPLE_RATE = 0x02,           // pairs per second
  SET_GAIN_MODE = 0x03,             // 0 automatic, 1 manual
  SET_GAIN = 0x04,                  // tenths of a dB (signed)
  SET_FREQUENCY_CORRECTION = 0x05,  // ppm (signed)
  SET_IF_GAIN = 0x06,               // stage << 16 | tenths of a dB
  SET_TEST_MODE = 0x07,             // 0 off, 1 counter instead of samples
  SET_AGC_MODE = 0x08,              // the RTL2832's digital AGC: 0 off, 1 on
  SET_DIRECT_SAMPLING = 0x09,       // 0 off, 1 I branch, 2 Q branch
  SET_OFFSET_TUNING = 0x0a,         // 0 off, 1 on
  SET_RTL_XTAL = 0x0b,              // Hz
  SET_TUNER_XTAL = 0x0c,            // Hz
  SET_GAIN_BY_INDEX = 0x0d,         // index into the tuner's gain list
  SET_BIAS_TEE = 0x0e,              // 0 off, 1 on
};

// One command as sent; `code` is a raw byte, since a server must take (and
// log) codes it does not know.
struct RtlTcpCommand {
  std::uint8_t code = 0;
  std::uint32_t parameter = 0;
};

bool operator==(const RtlTcpCommand& a, const RtlTcpCommand& b);

const char* rtl_tcp_tuner_name(std::uint32_t tuner_type);

// 0 with `*greeting` set when `bytes` (RTL_TCP_GREETING_BYTES of them) are a
// greeting; else -1 with `*error` saying what the peer sent instead.
int parse_rtl_tcp_greeting(std::span<const std::uint8_t> bytes, RtlTcpGreeting* greeting, Failure* failure);

std::array<std::uint8_t, RTL_TCP_GREETING_BYTES> format_rtl_tcp_greeting(const RtlTcpGreeting& greeting);

std::array<std::uint8_t, RTL_TCP_COMMAND_BYTES> encode_rtl_tcp_command(const RtlTcpCommand& command);

// Reads RTL_TCP_COMMAND_BYTES bytes; every 5 bytes are some command.
RtlTcpCommand decode_rtl_tcp_command(std::span<const std::uint8_t, RTL_TCP_COMMAND_BYTES> bytes);

// "set frequency 145500000", "set gain -10", "command 0x42 7": for logs.
std::string describe_rtl_tcp_command(const RtlTcpCommand& command);

// The commands that apply `request`'s frequency correction, rate, centre and
// gain, in the order rtl_tcp applies its own options in. 0 with
// `*commands` set, or -1 with `*error` naming the value the protocol cannot
// carry.
int rtl_tcp_setup_commands(const LiveSourceRequest& request, std::vector<RtlTcpCommand>* commands, Failure* failure);

}  // namespace kdsp
