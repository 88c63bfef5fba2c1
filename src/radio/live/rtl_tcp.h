// The rtl_tcp client: connects to a server (rtl_tcp itself, or any program
// that serves its protocol), checks its greeting, sets the frequency
// correction, rate, centre and gain by command, then reads the cu8 stream
// until the server closes. The protocol itself is in rtl_tcp_protocol.h.
#pragma once

#include <memory>
#include <string>

#include "radio/live/live_source.h"
#include "radio/live/rtl_tcp_protocol.h"

#include "radio/base/failure.h"

namespace kdsp {

// Connects to `request.address` ("HOST:PORT") within `request.timeout_ms`.
// 0 with `*source` set, or -1 with `*error` naming the server, the cause and
// the fix.
int open_rtl_tcp_source(const LiveSourceRequest& request, LiveStop& stop, std::unique_ptr<LiveSource>* source,
                        Failure* failure);

// The same on a connection already made, named `name` in messages; `fd` is
// the source's from now on, closed on failure too. `*greeting`, when given,
// receives what the server said it is.
int start_rtl_tcp_session(int fd, const std::string& name, const LiveSourceRequest& request, LiveStop& stop,
                          std::unique_ptr<LiveSource>* source, RtlTcpGreeting* greeting, Failure* failure);

}  // namespace kdsp
