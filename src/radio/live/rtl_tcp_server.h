// A small rtl_tcp server: listens on a host and port, takes one client,
// greets it, logs every command it sends, and streams cu8 bytes pulled from
// a producer at the pace of a receiver at the given rate (or faster) until
// the producer ends, then closes. For the tests of the client, and for a
// synthesiser that stands in for a receiver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "radio/live/live_stop.h"
#include "radio/live/rtl_tcp_protocol.h"
#include "radio/live/tcp_connection.h"

#include "radio/base/failure.h"

namespace kdsp {

// Fills the front of `bytes` with the next cu8 bytes and returns how many;
// 0 ends the stream.
using RtlTcpProducer = std::function<std::size_t(std::span<std::uint8_t> bytes)>;
// Called with each command, in the order the client sent them.
using RtlTcpCommandLog = std::function<void(const RtlTcpCommand& command)>;

struct RtlTcpServeOptions {
  RtlTcpGreeting greeting{5, 29};  // an R820T, as most dongles are
  double sample_rate = 2048000.0;  // pairs per second, for the pace
  // Multiple of real time; 0: as fast as the client reads.
  double speed = 1.0;
  // The longest wait for a client to connect; -1: no limit.
  int accept_timeout_ms = -1;
};

enum class RtlTcpServeEnd {
  PRODUCER_ENDED,  // everything the producer gave was sent
  CLIENT_LEFT,     // the client closed first
  STOPPED,         // the LiveStop was requested
};

struct RtlTcpServer {
  int listen_fd = -1;
  std::uint16_t port = 0;  // the one bound: the kernel's choice when 0 was asked

  RtlTcpServer() = default;
  RtlTcpServer(const RtlTcpServer&) = delete;
  RtlTcpServer& operator=(const RtlTcpServer&) = delete;
  ~RtlTcpServer();
};

// Listens on `address`. 0 with `*server` listening, or -1 with `*error`.
int open_rtl_tcp_server(const HostPort& address, RtlTcpServer* server, Failure* failure);

// Serves one client: waits for it, greets it, then streams and logs until
// the producer ends, the client leaves or `stop` is requested, and closes
// the connection. 0 with `*end` set, or -1 with `*error` set.
int serve_rtl_tcp_client(RtlTcpServer& server, const RtlTcpServeOptions& options, const RtlTcpProducer& producer,
                         const RtlTcpCommandLog& log, LiveStop& stop, RtlTcpServeEnd* end, Failure* failure);

}  // namespace kdsp
