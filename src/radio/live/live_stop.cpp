#include "radio/live/live_stop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kdsp {

LiveStop::~LiveStop() {
  if (event_fd >= 0) ::close(event_fd);
}

int open_live_stop(LiveStop* stop, Failure* failure) {
  // Non-blocking, so that a handler that requests the stop a
  // 2^64-1st time still returns instead of waiting for a reader.
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) {
    *failure = Failure{std::string("cannot make the stop event: ") + std::strerror(errno)};
    return -1;
  }
  stop->event_fd = fd;
  return 0;
}

void request_live_stop(LiveStop& stop) noexcept {
  const int saved_errno = errno;
  stop.requested.store(true);
  // Never read back: once set, the event stays readable and wakes every
  // later wait at once.
  const std::uint64_t one = 1;
  if (stop.event_fd >= 0) (void)!::write(stop.event_fd, &one, sizeof one);
  errno = saved_errno;
}

bool live_stop_requested(const LiveStop& stop) { return stop.requested.load(); }

int ms_until(LiveClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - LiveClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

FdWait wait_for_fd(int fd, short poll_events, const LiveStop& stop, int timeout_ms) {
  const auto deadline = LiveClock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    if (live_stop_requested(stop)) return FdWait::STOPPED;
    pollfd fds[2] = {{fd, poll_events, 0}, {stop.event_fd, POLLIN, 0}};
    const int ready = ::poll(fds, stop.event_fd >= 0 ? 2 : 1, timeout_ms < 0 ? -1 : ms_until(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return FdWait::FAILED;
    if (live_stop_requested(stop)) return FdWait::STOPPED;
    // An error or hang-up is reported as ready: the read or write that
    // follows meets it and says what it is.
    if (fds[0].revents != 0) return FdWait::READY;
    if (ready == 0 && timeout_ms >= 0 && ms_until(deadline) == 0) return FdWait::TIMED_OUT;
  }
}

std::string timeout_text(int timeout_ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", timeout_ms / 1000.0);
  return text;
}

}  // namespace kdsp
