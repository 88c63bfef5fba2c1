#include "common/progress_line.h"

#include <chrono>
#include <cstdio>

namespace kdsp {

namespace {

constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(500);

}  // namespace

ProgressLine::ProgressLine(bool enabled, std::uint64_t total, double units_per_second,
                           const std::atomic<std::uint64_t>* done, const std::atomic<std::uint64_t>* found,
                           const char* found_name)
    : total_(total), units_per_second_(units_per_second), done_(done), found_(found), found_name_(found_name) {
  if (enabled && total > 0) thread_ = std::thread(&ProgressLine::run, this);
}

ProgressLine::~ProgressLine() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
}

void ProgressLine::run() {
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> hold(lock_);
  while (!wake_.wait_for(hold, REDRAW_INTERVAL, [this] { return stop_; })) {
    const double elapsed_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double done = static_cast<double>(done_->load());
    const double fraction = done / static_cast<double>(total_);
    const double speed = elapsed_s > 0.0 ? done / units_per_second_ / elapsed_s : 0.0;
    const double left_s = fraction > 0.0 ? elapsed_s * (1.0 - fraction) / fraction : 0.0;
    std::fprintf(stderr, "\r\033[K%5.1f %%  %.1fx real time  %.0f s left", 100.0 * fraction, speed, left_s);
    if (found_ != nullptr) {
      std::fprintf(stderr, "  %llu %s", static_cast<unsigned long long>(found_->load()), found_name_);
    }
    std::fflush(stderr);
  }
}

}  // namespace kdsp
