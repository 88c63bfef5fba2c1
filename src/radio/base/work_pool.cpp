#include "radio/base/work_pool.h"

#include <exception>
#include <new>
#include <system_error>

namespace kdsp {

namespace {}  // namespace

void WorkPool::stop_locked(const Failure& failure) {
  if (!stopped_) failure_ = failure;
  stopped_ = true;
}

void WorkPool::fail(const Failure& failure) {
  update([&] { stop_locked(failure); });
}

void WorkPool::work(unsigned worker) {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    if (stopped_ || done_) return;
    PoolTask task;
    NextTask next = NextTask::WAIT;
    try {
      next = (*pick_)(running_, &task);
    } catch (const std::bad_alloc&) {
      stop_locked(Failure{"out of memory"});
      changed_.notify_all();
      return;
    }
    if (next == NextTask::DONE) {
      done_ = true;
      changed_.notify_all();
      return;
    }
    if (next == NextTask::WAIT) {
      changed_.wait(hold);
      continue;
    }
    ++running_;
    hold.unlock();
    Failure failure;
    int result = -1;
    try {
      result = task(worker, &failure);
    } catch (const std::bad_alloc&) {
      failure = Failure{"out of memory"};
    } catch (const std::system_error& thrown) {
      failure = Failure{std::string("a system call failed: ") + thrown.what()};
    } catch (const std::exception& thrown) {
      failure = Failure{thrown.what()};
    }
    task = nullptr;
    hold.lock();
    --running_;
    if (result != 0) stop_locked(failure);
    // Whatever the task did may let another worker go on.
    changed_.notify_all();
  }
}

int WorkPool::run(unsigned threads, const TaskPicker& pick, Failure* failure) {
  pick_ = &pick;
  stopped_ = false;
  done_ = false;
  failure_ = Failure{};
  std::vector<std::thread> started;
  // Every started thread is joined on every path out of here; one that waits
  // is woken by the stop first.
  struct JoinAll {
    WorkPool* pool;
    std::vector<std::thread>* threads;
    ~JoinAll() {
      pool->update([this] {
        if (!pool->done_) pool->stop_locked(Failure{"stopped"});
      });
      for (std::thread& thread : *threads) thread.join();
    }
  };
  {
    const JoinAll join{this, &started};
    try {
      started.reserve(threads > 0 ? threads - 1 : 0);
      for (unsigned t = 1; t < threads; ++t) started.emplace_back(&WorkPool::work, this, t);
    } catch (const std::system_error& thrown) {
      fail(Failure{"could not start " + std::to_string(threads) + " threads (" + thrown.code().message() + ")",
                   "give a smaller -j"});
    } catch (const std::bad_alloc&) {
      fail(Failure{"out of memory"});
    }
    work(0);
  }
  pick_ = nullptr;
  if (!stopped_) return 0;
  *failure = failure_;
  return -1;
}

}  // namespace kdsp
