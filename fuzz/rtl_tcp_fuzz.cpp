// Any bytes as what an rtl_tcp server sends: the client must take exactly
// the streams whose first 12 bytes are a greeting, and then hand back every
// whole pair of what follows, in order, and the end. The first input byte
// sets the client's buffer (1 to 256 pairs), so that reads end in every
// place of the stream. The pure functions are checked on the same bytes:
// an accepted greeting and any 5 bytes as a command format back to
// themselves.
#include <sys/socket.h>
#include <unistd.h>

#include <complex>
#include <cstdint>
#include <cstring>
#include <vector>

#include "radio/live/rtl_tcp.h"

namespace kdsp {

namespace {

// Small enough that the whole stream waits in the socket's buffer before the
// client reads, so that no second thread is needed to feed it.
constexpr std::size_t MAX_STREAM_BYTES = 32768;

void check_pure_functions(std::span<const std::uint8_t> stream) {
  if (stream.size() >= RTL_TCP_COMMAND_BYTES) {
    const auto command = decode_rtl_tcp_command(stream.first<RTL_TCP_COMMAND_BYTES>());
    const auto bytes = encode_rtl_tcp_command(command);
    if (std::memcmp(bytes.data(), stream.data(), bytes.size()) != 0) __builtin_trap();
    if (describe_rtl_tcp_command(command).empty()) __builtin_trap();
  }
  if (stream.size() < RTL_TCP_GREETING_BYTES) return;
  RtlTcpGreeting greeting;
  Failure error;
  if (parse_rtl_tcp_greeting(stream.first(RTL_TCP_GREETING_BYTES), &greeting, &error) != 0) return;
  const auto bytes = format_rtl_tcp_greeting(greeting);
  if (std::memcmp(bytes.data(), stream.data(), bytes.size()) != 0) __builtin_trap();
}

bool greeting_accepted(std::span<const std::uint8_t> stream) {
  RtlTcpGreeting greeting;
  Failure error;
  return stream.size() >= RTL_TCP_GREETING_BYTES &&
         parse_rtl_tcp_greeting(stream.first(RTL_TCP_GREETING_BYTES), &greeting, &error) == 0;
}

void check_client(std::span<const std::uint8_t> stream, std::size_t buffer_pairs, LiveStop& stop) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) __builtin_trap();
  if (!stream.empty() &&
      ::send(ends[1], stream.data(), stream.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(stream.size())) {
    __builtin_trap();
  }
  ::shutdown(ends[1], SHUT_WR);
  LiveSourceRequest request;
  request.sample_rate = 1024000;
  request.centre_hz = 100e6;
  request.timeout_ms = 10000;  // never reached: the stream's end is already there
  std::unique_ptr<LiveSource> source;
  Failure error;
  const int opened = start_rtl_tcp_session(ends[0], "fuzz", request, stop, &source, nullptr, &error);
  if ((opened == 0) != greeting_accepted(stream)) __builtin_trap();
  if (opened != 0) {
    if (error.cause.empty() || source != nullptr) __builtin_trap();
    ::close(ends[1]);
    return;
  }
  const std::span<const std::uint8_t> samples = stream.subspan(RTL_TCP_GREETING_BYTES);
  std::vector<std::complex<float>> expected(samples.size() / 2);
  decode_pairs(SampleFormat::CU8, samples.data(), expected.size(), expected.data());
  std::vector<std::complex<float>> buffer(buffer_pairs);
  std::size_t got = 0;
  for (;;) {
    const LiveRead r = source->read(buffer, &error);
    if (r.status == LiveReadStatus::END) break;
    if (r.status != LiveReadStatus::PAIRS || r.pair_count == 0 || r.pair_count > buffer_pairs) __builtin_trap();
    if (got + r.pair_count > expected.size()) __builtin_trap();
    if (std::memcmp(buffer.data(), expected.data() + got, r.pair_count * sizeof buffer[0]) != 0) __builtin_trap();
    got += r.pair_count;
  }
  if (got != expected.size()) __builtin_trap();
  ::close(ends[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static LiveStop stop;
  static const bool stop_ready = [] {
    Failure error;
    return open_live_stop(&stop, &error) == 0;
  }();
  if (!stop_ready) __builtin_trap();
  if (size < 1 || size - 1 > MAX_STREAM_BYTES) return 0;
  const std::span<const std::uint8_t> stream(data + 1, size - 1);
  check_pure_functions(stream);
  check_client(stream, std::size_t{data[0]} + 1, stop);
  return 0;
}

}  // namespace kdsp
