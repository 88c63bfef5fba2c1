// Stopping a live source that is blocked waiting for samples: a flag and an
// eventfd that a signal handler or another thread sets, and the one wait
// every blocking call of the live sources goes through, which wakes on the
// awaited descriptor, on the stop, or at a deadline.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "radio/base/failure.h"

namespace kdsp {

struct LiveStop {
  int event_fd = -1;
  std::atomic<bool> requested{false};

  LiveStop() = default;
  LiveStop(const LiveStop&) = delete;
  LiveStop& operator=(const LiveStop&) = delete;
  ~LiveStop();
};

// Makes the eventfd. 0, or -1 with `*error` set.
int open_live_stop(LiveStop* stop, Failure* failure);

// Asks every wait on `stop` to end, now and from now on. Safe in a signal
// handler: an atomic store and one write(2).
void request_live_stop(LiveStop& stop) noexcept;

bool live_stop_requested(const LiveStop& stop);

using LiveClock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, 0 once it has passed: a timeout for
// one wait of several that share a deadline.
int ms_until(LiveClock::time_point deadline);

enum class FdWait { READY, STOPPED, TIMED_OUT, FAILED };

// Waits until `fd` has one of `poll_events` (POLLIN, POLLOUT), `stop` is
// requested, or `timeout_ms` has passed (-1: no limit). A signal that
// interrupts the wait does not end it unless it requested the stop. FAILED
// leaves errno set.
FdWait wait_for_fd(int fd, short poll_events, const LiveStop& stop, int timeout_ms);

// "10 s", "0.25 s": a timeout as messages print it.
std::string timeout_text(int timeout_ms);

}  // namespace kdsp
