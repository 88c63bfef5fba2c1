#include "radio/live/rtl_tcp_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "radio/live/owned_fd.h"

namespace kdsp {

namespace {

// The stream is sent in pieces of about 10 ms of signal: small enough to
// keep the pace smooth, large enough to keep system calls few.
constexpr double PIECE_SECONDS = 0.01;
constexpr std::size_t MIN_PIECE_BYTES = 512;
constexpr std::size_t MAX_PIECE_BYTES = 64 * 1024;
// After the last byte the server half-closes and waits this long for the
// client to close its end, taking its last commands: a socket closed with
// unread bytes is reset, and a reset can cost the client the stream's tail.
constexpr int CLOSING_WAIT_MS = 2000;

struct Session {
  Session(int client_fd, const RtlTcpServeOptions& serve_options, const RtlTcpProducer& bytes_producer,
          const RtlTcpCommandLog& command_log, LiveStop& live_stop)
      : fd(client_fd), options(serve_options), producer(bytes_producer), log(command_log), stop(live_stop) {}

  int fd;
  const RtlTcpServeOptions& options;
  const RtlTcpProducer& producer;
  const RtlTcpCommandLog& log;
  LiveStop& stop;
  std::vector<std::uint8_t> piece;  // bytes from the producer not yet sent
  std::size_t piece_sent = 0;
  std::size_t piece_held = 0;
  bool producer_ended = false;
  std::uint64_t bytes_sent = 0;
  LiveClock::time_point start = LiveClock::now();
  std::uint8_t command[RTL_TCP_COMMAND_BYTES] = {};
  std::size_t command_held = 0;
};

enum class Step { GO_ON, CLIENT_LEFT, FAILED };

double bytes_per_second(const RtlTcpServeOptions& options) { return 2.0 * options.sample_rate * options.speed; }

std::size_t piece_bytes(const RtlTcpServeOptions& options) {
  if (options.speed == 0.0) return MAX_PIECE_BYTES;
  const double bytes = bytes_per_second(options) * PIECE_SECONDS;
  return std::clamp(static_cast<std::size_t>(bytes), MIN_PIECE_BYTES, MAX_PIECE_BYTES);
}

// Bytes the pace allows to have been sent by now.
std::uint64_t paced_total(const Session& s) {
  if (s.options.speed == 0.0) return UINT64_MAX;
  const double seconds = std::chrono::duration<double>(LiveClock::now() - s.start).count();
  return static_cast<std::uint64_t>(seconds * bytes_per_second(s.options));
}

// Milliseconds until the pace allows `bytes` more.
int ms_until_paced(const Session& s, std::size_t bytes) {
  const double due_seconds = static_cast<double>(s.bytes_sent + bytes) / bytes_per_second(s.options);
  const auto due =
      s.start + std::chrono::duration_cast<LiveClock::duration>(std::chrono::duration<double>(due_seconds));
  return std::max(1, ms_until(due));
}

void refill_piece(Session& s) {
  if (s.piece_sent < s.piece_held || s.producer_ended) return;
  s.piece_held = std::min(s.producer(std::span<std::uint8_t>(s.piece)), s.piece.size());
  s.piece_sent = 0;
  if (s.piece_held == 0) s.producer_ended = true;
}

Step take_commands(Session& s, Failure* failure) {
  for (;;) {
    const ssize_t got = ::recv(s.fd, s.command + s.command_held, RTL_TCP_COMMAND_BYTES - s.command_held, MSG_DONTWAIT);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Step::GO_ON;
    if (got < 0 && errno == ECONNRESET) return Step::CLIENT_LEFT;
    if (got < 0) {
      *failure = Failure{std::string("cannot read the client's commands: ") + std::strerror(errno)};
      return Step::FAILED;
    }
    if (got == 0) return Step::CLIENT_LEFT;
    s.command_held += static_cast<std::size_t>(got);
    if (s.command_held == RTL_TCP_COMMAND_BYTES) {
      s.log(decode_rtl_tcp_command(std::span<const std::uint8_t, RTL_TCP_COMMAND_BYTES>(s.command)));
      s.command_held = 0;
    }
  }
}

Step send_paced(Session& s, Failure* failure) {
  const std::uint64_t allowed = paced_total(s) - std::min(paced_total(s), s.bytes_sent);
  const std::size_t bytes = static_cast<std::size_t>(std::min<std::uint64_t>(s.piece_held - s.piece_sent, allowed));
  if (bytes == 0) return Step::GO_ON;
  // MSG_NOSIGNAL: a client gone away ends the session, not the process.
  const ssize_t sent = ::send(s.fd, s.piece.data() + s.piece_sent, bytes, MSG_DONTWAIT | MSG_NOSIGNAL);
  if (sent < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return Step::GO_ON;
  if (sent < 0 && (errno == EPIPE || errno == ECONNRESET)) return Step::CLIENT_LEFT;
  if (sent < 0) {
    *failure = Failure{std::string("cannot send samples: ") + std::strerror(errno)};
    return Step::FAILED;
  }
  s.piece_sent += static_cast<std::size_t>(sent);
  s.bytes_sent += static_cast<std::uint64_t>(sent);
  return Step::GO_ON;
}

// One turn: wait for commands, for room to send, or for the pace.
int serve_turn(Session& s, RtlTcpServeEnd* end, Failure* failure) {
  const std::size_t waiting = s.piece_held - s.piece_sent;
  const bool paced_out = s.options.speed != 0.0 && paced_total(s) < s.bytes_sent + waiting;
  const short events = static_cast<short>(POLLIN | (paced_out ? 0 : POLLOUT));
  const int timeout_ms = paced_out ? ms_until_paced(s, waiting) : -1;
  switch (wait_for_fd(s.fd, events, s.stop, timeout_ms)) {
    case FdWait::READY:
    case FdWait::TIMED_OUT: break;
    case FdWait::STOPPED: *end = RtlTcpServeEnd::STOPPED; return 1;
    case FdWait::FAILED:
      *failure = Failure{std::string("cannot wait for the client: ") + std::strerror(errno)};
      return -1;
  }
  Step step = take_commands(s, failure);
  if (step == Step::GO_ON) step = send_paced(s, failure);
  if (step == Step::FAILED) return -1;
  if (step == Step::CLIENT_LEFT) {
    *end = RtlTcpServeEnd::CLIENT_LEFT;
    return 1;
  }
  return 0;
}

// Half-closes and takes the client's last commands until it closes too.
void close_gently(Session& s) {
  ::shutdown(s.fd, SHUT_WR);
  const auto deadline = LiveClock::now() + std::chrono::milliseconds(CLOSING_WAIT_MS);
  Failure ignored;
  while (wait_for_fd(s.fd, POLLIN, s.stop, ms_until(deadline)) == FdWait::READY) {
    if (take_commands(s, &ignored) != Step::GO_ON) return;
  }
}

int send_greeting(int fd, const RtlTcpGreeting& greeting, Failure* failure) {
  if (send_all(fd, format_rtl_tcp_greeting(greeting)) != 0) {
    *failure = Failure{std::string("cannot send the greeting: ") + std::strerror(errno)};
    return -1;
  }
  return 0;
}

int accept_client(const RtlTcpServer& server, int timeout_ms, LiveStop& stop, OwnedFd* client, bool* stopped,
                  Failure* failure) {
  for (;;) {
    switch (wait_for_fd(server.listen_fd, POLLIN, stop, timeout_ms)) {
      case FdWait::READY: break;
      case FdWait::STOPPED: *stopped = true; return 0;
      case FdWait::TIMED_OUT: *failure = Failure{"no client came within " + timeout_text(timeout_ms)}; return -1;
      case FdWait::FAILED:
        *failure = Failure{std::string("cannot wait for a client: ") + std::strerror(errno)};
        return -1;
    }
    const int fd = ::accept4(server.listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    // A client that gave up between the wait and the accept is not an error.
    if (fd < 0 && (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN)) continue;
    if (fd < 0) {
      *failure = Failure{std::string("cannot accept a client: ") + std::strerror(errno)};
      return -1;
    }
    client->reset(fd);
    return 0;
  }
}

}  // namespace

RtlTcpServer::~RtlTcpServer() {
  if (listen_fd >= 0) ::close(listen_fd);
}

int open_rtl_tcp_server(const HostPort& address, RtlTcpServer* server, Failure* failure) {
  return listen_tcp(address, &server->listen_fd, &server->port, failure);
}

int serve_rtl_tcp_client(RtlTcpServer& server, const RtlTcpServeOptions& options, const RtlTcpProducer& producer,
                         const RtlTcpCommandLog& log, LiveStop& stop, RtlTcpServeEnd* end, Failure* failure) {
  if (!(options.speed >= 0.0) || (options.speed > 0.0 && !(options.sample_rate > 0.0))) {
    *failure = Failure{"the pace needs a positive rate and a speed of 0 or more"};
    return -1;
  }
  OwnedFd client;
  bool stopped = false;
  if (accept_client(server, options.accept_timeout_ms, stop, &client, &stopped, failure) != 0) return -1;
  if (stopped) {
    *end = RtlTcpServeEnd::STOPPED;
    return 0;
  }
  if (send_greeting(client.get(), options.greeting, failure) != 0) return -1;
  Session s(client.get(), options, producer, log, stop);
  s.piece.resize(piece_bytes(options));
  s.start = LiveClock::now();
  for (;;) {
    refill_piece(s);
    if (s.producer_ended) {
      close_gently(s);
      *end = RtlTcpServeEnd::PRODUCER_ENDED;
      return 0;
    }
    const int turn = serve_turn(s, end, failure);
    if (turn != 0) return turn < 0 ? -1 : 0;
  }
}

}  // namespace kdsp
