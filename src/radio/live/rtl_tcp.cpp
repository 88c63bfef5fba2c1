#include "radio/live/rtl_tcp.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "radio/live/fd_source.h"
#include "radio/live/owned_fd.h"
#include "radio/live/tcp_connection.h"

namespace kdsp {

namespace {

// Reads the greeting whole within `timeout_ms`: a server may send it in
// pieces, or die halfway.
int read_greeting(int fd, const std::string& name, int timeout_ms, LiveStop& stop,
                  std::array<std::uint8_t, RTL_TCP_GREETING_BYTES>* bytes, Failure* failure) {
  const auto deadline = LiveClock::now() + std::chrono::milliseconds(timeout_ms);
  std::size_t held = 0;
  while (held < bytes->size()) {
    switch (wait_for_fd(fd, POLLIN, stop, ms_until(deadline))) {
      case FdWait::READY: break;
      case FdWait::STOPPED: *failure = Failure{name + ": stopped while waiting for the greeting"}; return -1;
      case FdWait::TIMED_OUT:
        *failure =
            Failure{name + ": no rtl_tcp greeting within " + timeout_text(timeout_ms) + " (" + std::to_string(held) +
                    " of its " + std::to_string(bytes->size()) + " bytes came); is it an rtl_tcp server?"};
        return -1;
      case FdWait::FAILED:
        *failure = Failure{name + ": cannot wait for the greeting: " + std::strerror(errno)};
        return -1;
    }
    const ssize_t got = ::recv(fd, bytes->data() + held, bytes->size() - held, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *failure = Failure{name + ": cannot read the greeting: " + std::strerror(errno)};
      return -1;
    }
    if (got == 0) {
      *failure = Failure{name + ": the server closed the connection after " + std::to_string(held) + " of the " +
                         std::to_string(bytes->size()) + " bytes of its greeting (is another client connected?)"};
      return -1;
    }
    held += static_cast<std::size_t>(got);
  }
  return 0;
}

int send_command(int fd, const std::string& name, const RtlTcpCommand& command, Failure* failure) {
  if (send_all(fd, encode_rtl_tcp_command(command)) != 0) {
    *failure = Failure{name + ": cannot send '" + describe_rtl_tcp_command(command) + "': " + std::strerror(errno)};
    return -1;
  }
  return 0;
}

LiveSourceInfo session_info(const std::string& name, const LiveSourceRequest& request, const RtlTcpGreeting& greeting) {
  LiveSourceInfo info;
  info.sample_rate = request.sample_rate;
  if (request.centre_hz) info.centre_hz = std::nearbyint(*request.centre_hz);
  info.description = name + " (tuner " + rtl_tcp_tuner_name(greeting.tuner_type) + ", " +
                     std::to_string(greeting.gain_count) + " gains)";
  return info;
}

}  // namespace

int start_rtl_tcp_session(int fd, const std::string& name, const LiveSourceRequest& request, LiveStop& stop,
                          std::unique_ptr<LiveSource>* source, RtlTcpGreeting* greeting, Failure* failure) {
  OwnedFd connection(fd);
  std::vector<RtlTcpCommand> commands;
  Failure cause;
  if (rtl_tcp_setup_commands(request, &commands, &cause) != 0) {
    *failure = Failure{name + ": " + failure_text(cause)};
    return -1;
  }
  std::array<std::uint8_t, RTL_TCP_GREETING_BYTES> bytes{};
  if (read_greeting(fd, name, request.timeout_ms, stop, &bytes, failure) != 0) return -1;
  RtlTcpGreeting said;
  if (parse_rtl_tcp_greeting(bytes, &said, &cause) != 0) {
    *failure = Failure{name + ": " + failure_text(cause)};
    return -1;
  }
  for (const RtlTcpCommand& command : commands) {
    if (send_command(fd, name, command, failure) != 0) return -1;
  }
  FdSourceOptions options;
  options.format = SampleFormat::CU8;
  options.owns_fd = true;
  options.stall_timeout_ms = request.timeout_ms;
  options.name = name;
  options.info = session_info(name, request, said);
  *source = make_fd_source(connection.release(), options, stop);
  if (greeting != nullptr) *greeting = said;
  return 0;
}

int open_rtl_tcp_source(const LiveSourceRequest& request, LiveStop& stop, std::unique_ptr<LiveSource>* source,
                        Failure* failure) {
  HostPort address;
  Failure cause;
  if (parse_host_port(request.address, false, &address, &cause) != 0) {
    *failure = Failure{"rtl_tcp: " + failure_text(cause)};
    return -1;
  }
  const std::string name = "rtl_tcp " + host_port_text(address);
  int fd = -1;
  if (connect_tcp(address, request.timeout_ms, stop, &fd, &cause) != 0) {
    *failure = Failure{"rtl_tcp: " + failure_text(cause)};
    return -1;
  }
  return start_rtl_tcp_session(fd, name, request, stop, source, nullptr, failure);
}

}  // namespace kdsp
