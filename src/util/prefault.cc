#include "util/prefault.h"

#include <sys/mman.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace vesk {

namespace {

struct prefaulter {
  std::mutex m;
  std::condition_variable cv;
  std::deque<std::pair<uintptr_t, size_t>> queue;
  bool started = false;

  void run() {
    for (;;) {
      std::pair<uintptr_t, size_t> r;
      {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return !queue.empty(); });
        r = queue.front();
        queue.pop_front();
      }
      // Failure (an old kernel without the request) only loses the head
      // start: the coding thread faults the pages in itself.
      madvise(reinterpret_cast<void*>(r.first), r.second, MADV_POPULATE_WRITE);
    }
  }
};

prefaulter& instance() {
  static prefaulter* p = new prefaulter;  // never destroyed: the thread outlives main
  return *p;
}

}  // namespace

void prefault(void* p, size_t n) {
  static const bool enabled = std::thread::hardware_concurrency() >= 2;
  if (!enabled || n == 0) return;
  constexpr uintptr_t page = 4096;
  const auto lo = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
  const auto hi = (reinterpret_cast<uintptr_t>(p) + n) & ~(page - 1);
  if (lo >= hi) return;
  prefaulter& f = instance();
  {
    std::lock_guard<std::mutex> lock(f.m);
    f.queue.emplace_back(lo, hi - lo);
    if (!f.started) {
      f.started = true;
      std::thread([&f] { f.run(); }).detach();
    }
  }
  f.cv.notify_one();
}

}  // namespace vesk
