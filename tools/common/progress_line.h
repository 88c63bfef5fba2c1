// A progress line on standard error while a long job runs: percent done,
// speed as a multiple of real time, and time left, redrawn in place twice a
// second by a thread of its own, and erased when the job ends; optionally a
// count of things found so far.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace kdsp {

class ProgressLine {
 public:
  // Shows nothing when `enabled` is false. `done` counts units of work of
  // `total`, each 1 / units_per_second seconds of the recording.
  // `found`, when given, is shown as that many `found_name`.
  ProgressLine(bool enabled, std::uint64_t total, double units_per_second, const std::atomic<std::uint64_t>* done,
               const std::atomic<std::uint64_t>* found = nullptr, const char* found_name = "");
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

 private:
  void run();

  std::uint64_t total_;
  double units_per_second_;
  const std::atomic<std::uint64_t>* done_;
  const std::atomic<std::uint64_t>* found_;
  const char* found_name_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace kdsp
