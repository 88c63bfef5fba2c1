#include "radio/live/tcp_connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "radio/live/owned_fd.h"

namespace kdsp {

namespace {

// Clients queued on a listening socket; the server takes one at a time.
constexpr int LISTEN_BACKLOG = 4;

struct AddrInfoFree {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoFree>;

int resolve(const HostPort& address, int flags, AddrInfoList* list, Failure* failure) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | flags;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(address.port);
  const int status = ::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found);
  if (status != 0) {
    *failure = Failure{"cannot resolve " + host_port_text(address) + ": " + ::gai_strerror(status)};
    return -1;
  }
  list->reset(found);
  return 0;
}

int parse_port(std::string_view text, bool allow_any_port, std::uint16_t* port) {
  if (text.empty() || text.size() > 5) return -1;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 65535 || (value == 0 && !allow_any_port)) return -1;
  *port = static_cast<std::uint16_t>(value);
  return 0;
}

// One attempt on one of the host's addresses: errno says why it failed.
enum class Attempt { CONNECTED, FAILED, TIMED_OUT, STOPPED };

Attempt connect_one(const addrinfo& candidate, LiveClock::time_point deadline, const LiveStop& stop,
                    OwnedFd* socket_fd) {
  // Non-blocking for the connection alone, so that the deadline and the
  // stop can cut it short; blocking afterwards, each read preceded by a wait.
  OwnedFd fd(
      ::socket(candidate.ai_family, candidate.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, candidate.ai_protocol));
  if (fd.get() < 0) return Attempt::FAILED;
  if (::connect(fd.get(), candidate.ai_addr, candidate.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) return Attempt::FAILED;
    switch (wait_for_fd(fd.get(), POLLOUT, stop, ms_until(deadline))) {
      case FdWait::READY: break;
      case FdWait::STOPPED: return Attempt::STOPPED;
      case FdWait::TIMED_OUT: return Attempt::TIMED_OUT;
      case FdWait::FAILED: return Attempt::FAILED;
    }
    int status = 0;
    socklen_t length = sizeof status;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &status, &length) != 0) return Attempt::FAILED;
    if (status != 0) {
      errno = status;
      return Attempt::FAILED;
    }
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return Attempt::FAILED;
  // Commands are a few bytes each and should not wait for more to join them.
  const int on = 1;
  ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  *socket_fd = std::move(fd);
  return Attempt::CONNECTED;
}

}  // namespace

int parse_host_port(std::string_view text, bool allow_any_port, HostPort* address, Failure* failure) {
  std::string_view host;
  std::string_view port;
  if (text.starts_with('[')) {
    const std::size_t close = text.find("]:");
    if (close != std::string_view::npos) {
      host = text.substr(1, close - 1);
      port = text.substr(close + 2);
    }
  } else {
    const std::size_t colon = text.rfind(':');
    if (colon != std::string_view::npos && text.find(':') == colon) {
      host = text.substr(0, colon);
      port = text.substr(colon + 1);
    }
  }
  std::uint16_t port_number = 0;
  if (host.empty() || parse_port(port, allow_any_port, &port_number) != 0) {
    *failure = Failure{"'" + std::string(text) + "' is not HOST:PORT (a port from " + (allow_any_port ? "0" : "1") +
                       " to 65535; an IPv6 address in brackets: [::1]:1234)"};
    return -1;
  }
  *address = {std::string(host), port_number};
  return 0;
}

std::string host_port_text(const HostPort& address) {
  const bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

int connect_tcp(const HostPort& address, int timeout_ms, const LiveStop& stop, int* fd, Failure* failure) {
  AddrInfoList list;
  if (resolve(address, 0, &list, failure) != 0) return -1;
  const auto deadline = LiveClock::now() + std::chrono::milliseconds(timeout_ms);
  std::string cause = "no address";
  for (const addrinfo* candidate = list.get(); candidate != nullptr; candidate = candidate->ai_next) {
    OwnedFd connected;
    switch (connect_one(*candidate, deadline, stop, &connected)) {
      case Attempt::CONNECTED: *fd = connected.release(); return 0;
      case Attempt::STOPPED: *failure = Failure{"connecting to " + host_port_text(address) + " was stopped"}; return -1;
      case Attempt::TIMED_OUT:
        *failure = Failure{"cannot connect to " + host_port_text(address) + " within " + timeout_text(timeout_ms) +
                           " (is the server up and the port open?)"};
        return -1;
      case Attempt::FAILED: cause = std::strerror(errno); break;
    }
  }
  *failure = Failure{"cannot connect to " + host_port_text(address) + ": " + cause};
  return -1;
}

int send_all(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    sent += static_cast<std::size_t>(n);
  }
  return 0;
}

int listen_tcp(const HostPort& address, int* fd, std::uint16_t* port, Failure* failure) {
  AddrInfoList list;
  if (resolve(address, AI_PASSIVE, &list, failure) != 0) return -1;
  std::string cause = "no address";
  for (const addrinfo* candidate = list.get(); candidate != nullptr; candidate = candidate->ai_next) {
    OwnedFd listener(::socket(candidate->ai_family, candidate->ai_socktype | SOCK_CLOEXEC, candidate->ai_protocol));
    const int on = 1;
    // A server restarted at once finds its port still held by the last
    // connection's TIME_WAIT; the address may be reused for listening.
    if (listener.get() < 0 || ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(listener.get(), candidate->ai_addr, candidate->ai_addrlen) != 0 ||
        ::listen(listener.get(), LISTEN_BACKLOG) != 0) {
      cause = std::strerror(errno);
      continue;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
      cause = std::strerror(errno);
      continue;
    }
    *port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                              : reinterpret_cast<sockaddr_in&>(bound).sin_port);
    *fd = listener.release();
    return 0;
  }
  *failure = Failure{"cannot listen on " + host_port_text(address) + ": " + cause};
  return -1;
}

}  // namespace kdsp
