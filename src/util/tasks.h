// Independent pieces of work (the coded streams of one file) run side by
// side when the machine has a core to spare. The coded bits never depend on
// it: each stream has its own model, coder and output.
#pragma once

#include <atomic>
#include <system_error>
#include <thread>

#include "util/arena.h"
#include "util/progress.h"
#include "util/threads.h"

namespace vesk {

// Streams shorter than this are not worth a second thread: its own arena
// region would cost more than the thread saves time.
constexpr int64_t parallel_min_bytes = 65536;

// True when a second thread can run beside the main one.
inline bool tasks_in_parallel() {
  return std::thread::hardware_concurrency() >= 2;
}

// Runs fn(t) for each task number t of order[0..count-1] (most costly
// first), on the calling thread and, when `parallel` and a second core
// allow, one worker thread beside it; each takes the next task as it
// becomes free. Returns when all are done. The worker
// allocates from an arena region of its own, returned when it ends. fn
// must not end the process while the other thread runs (a stop for want
// of memory aside): it records a failure for the caller to report.
template <class Fn>
void run_tasks(const int* order, int count, Fn&& fn, bool parallel = true) {
  std::atomic<int> next{0};
  auto work = [&] {
    for (int i = next.fetch_add(1); i < count; i = next.fetch_add(1)) fn(order[i]);
  };
  if (count < 2 || !parallel || !tasks_in_parallel()) {
    work();
    return;
  }
  std::thread worker;
  try {
    worker = helper_thread([&] {
      const arena_thread_region region;
      progress_lane = 1;
      work();
    });
  } catch (const std::system_error&) {
    // No thread to spare: the calling thread does it all.
  }
  work();
  if (worker.joinable()) worker.join();
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
