// Independent pieces of work (the coded streams of one file) run side by
// side when the machine has a core to spare. The coded bits never depend on
// it: each stream has its own model, coder and output.
#pragma once

#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "util/arena.h"
#include "util/call.h"
#include "util/progress.h"
#include "util/threads.h"

namespace vesk {

// Streams shorter than this are not worth a second thread: its own arena
// region would cost more than the thread saves time.
constexpr int64_t parallel_min_bytes = 65536;

// True when the call may run a second thread beside the calling one.
inline bool tasks_in_parallel() {
  return call_threads() >= 2;
}

// Runs fn(t) for each task number t of order[0..count-1] (most costly
// first), on the calling thread and, when `parallel` and a second core
// allow, one worker thread beside it; each takes the next task as it
// becomes free. Returns when all are done. The worker allocates from an
// arena region of its own, returned when it ends. A task that throws ends
// the run: no task starts after it, the other thread finishes the one it
// is on, and the first failure is thrown to the caller once both are done.
template <class Fn>
void run_tasks(const int* order, int count, Fn&& fn, bool parallel = true) {
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr first;
  std::mutex m;
  auto work = [&] {
    try {
      for (int i = next.fetch_add(1); i < count && !failed.load(); i = next.fetch_add(1))
        fn(order[i]);
    } catch (...) {
      const std::lock_guard lock(m);
      if (!first) first = std::current_exception();
      failed.store(true);
    }
  };
  std::thread worker;
  if (count >= 2 && parallel && tasks_in_parallel()) {
    try {
      worker = helper_thread([&, lane = progress_lane | 1] {
        const arena_thread_region region;
        progress_lane = lane;
        work();
      });
    } catch (const std::system_error&) {
      // No thread to spare: the calling thread does it all.
    }
  }
  work();
  if (worker.joinable()) worker.join();
  if (first) std::rethrow_exception(first);
}

// A task's completion, for a task that needs another's result.
struct task_done {
  std::atomic<bool> flag{false};
  void set() {
    flag.store(true, std::memory_order_release);
    flag.notify_all();
  }
  void wait() {
    while (!flag.load(std::memory_order_acquire)) flag.wait(false, std::memory_order_acquire);
  }
};

}  // namespace vesk
