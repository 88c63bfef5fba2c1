// The threads of a run: `-j N` means N workers for the whole run, and every
// kind of work (reading and splitting the recording, handing it on in order,
// the core's runs, writing) is a task one of them takes. The run's owner says
// what comes next through one function, called with the pool's lock held, so
// that the order in which things may happen lives in one place and the
// threads themselves know nothing of radio: as a flowgraph's scheduler owns
// the threads and a block only says what one call of work does.
//
// A task that fails, or throws (memory running out), stops the run: no new
// task starts, the running ones finish, every thread is joined, and the
// first failure is returned. A thread that cannot be started is a failure
// too, never an abort.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "radio/base/failure.h"

namespace kdsp {

// One piece of work, run without the pool's lock on worker `worker` (0 to
// threads - 1, so that a task may use state of that worker's own). 0, or -1
// with `*failure` set to stop the run.
using PoolTask = std::function<int(unsigned worker, Failure* failure)>;

enum class NextTask {
  RUN,   // the task is filled in: run it
  WAIT,  // nothing to do until a running task ends or the state changes
  DONE,  // everything is done: the workers end
};

// Called with the pool's lock held: what the asking worker does next, while
// `running` other tasks are running (DONE only makes sense with none).
using TaskPicker = std::function<NextTask(unsigned running, PoolTask* task)>;

class WorkPool {
 public:
  WorkPool() = default;
  WorkPool(const WorkPool&) = delete;
  WorkPool& operator=(const WorkPool&) = delete;

  // Runs tasks on `threads` workers (the calling thread and threads - 1
  // more) until `pick` says DONE, or a task fails. 0, or -1 with
  // `*failure` holding the first failure.
  int run(unsigned threads, const TaskPicker& pick, Failure* failure);

  // Runs `change` with the pool's lock held and wakes waiting workers: how
  // a task changes what `pick` sees.
  template <class Change>
  void update(Change&& change) {
    {
      const std::lock_guard<std::mutex> hold(lock_);
      change();
    }
    changed_.notify_all();
  }

  // Stops the run with `failure`, as a failing task does.
  void fail(const Failure& failure);

 private:
  void work(unsigned worker);
  void stop_locked(const Failure& failure);

  const TaskPicker* pick_ = nullptr;
  std::mutex lock_;
  std::condition_variable changed_;
  unsigned running_ = 0;
  bool stopped_ = false;
  bool done_ = false;
  Failure failure_;
};

}  // namespace kdsp
