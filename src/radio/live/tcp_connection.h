// TCP for the network sources: "HOST:PORT" addresses, connecting with a
// deadline that a LiveStop can cut short, and listening for one client.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "radio/live/live_stop.h"

#include "radio/base/failure.h"

namespace kdsp {

struct HostPort {
  std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
  std::uint16_t port = 0;
};

// Reads "HOST:PORT" or "[IPV6]:PORT"; port 0 only when `allow_any_port`
// (a server asking for any free port). 0 with `*address` set, else -1 with
// `*error` saying what is wrong.
int parse_host_port(std::string_view text, bool allow_any_port, HostPort* address, Failure* failure);

// Connects to `address` (each of the host's addresses in turn) within
// `timeout_ms` in all. 0 with `*fd` set to a connected blocking socket,
// or -1 with `*error` naming the address and the cause (a stop is one).
int connect_tcp(const HostPort& address, int timeout_ms, const LiveStop& stop, int* fd, Failure* failure);

// Listens on `address` for at most a few waiting clients. 0 with `*fd` set
// and `*port` the port bound (the one the kernel chose for port 0), or -1.
int listen_tcp(const HostPort& address, int* fd, std::uint16_t* port, Failure* failure);

// Sends all of `bytes` on a blocking socket. 0, or -1 with errno set; a peer
// gone away is such an error, never a SIGPIPE.
int send_all(int fd, std::span<const std::uint8_t> bytes);

// "127.0.0.1:1234", "[::1]:1234".
std::string host_port_text(const HostPort& address);

}  // namespace kdsp
