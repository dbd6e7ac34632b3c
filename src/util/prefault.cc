#include "util/prefault.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "util/arena.h"
#include "util/threads.h"

namespace vesk {

namespace {

// The thread faults in one huge page per call, so that a cancel waits for
// at most that.
constexpr uintptr_t chunk = uintptr_t{2} << 20;

struct range {
  uintptr_t lo, hi;
  bool overlaps(uintptr_t a, uintptr_t b) const { return lo < b && a < hi; }
};

struct prefault_state {
  std::mutex m;
  std::condition_variable work, idle;
  std::deque<range> queue;
  range busy{0, 0};  // the chunk being faulted in
  bool started = false;
  bool unsupported = false;
};

// Never destroyed: the thread may still wait on it while the process exits.
prefault_state& state() {
  static prefault_state* s = new prefault_state;
  return *s;
}

void serve(prefault_state& s) {
  std::unique_lock l(s.m);
  for (;;) {
    s.work.wait(l, [&] { return !s.queue.empty(); });
    range& r = s.queue.front();
    const uintptr_t lo = r.lo, hi = std::min(r.hi, (lo + chunk) & ~(chunk - 1));
    r.lo = hi;
    if (r.lo >= r.hi) s.queue.pop_front();
    s.busy = {lo, hi};
    l.unlock();
    const int rc = madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_POPULATE_WRITE);
    const int err = errno;
    l.lock();
    s.busy = {0, 0};
    // An older kernel does not know the request: fault in nothing then.
    if (rc != 0 && err == EINVAL) {
      s.unsupported = true;
      s.queue.clear();
    }
    s.idle.notify_all();
  }
}

}  // namespace

void prefault(void* lo, void* hi) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(lo) & ~uintptr_t(arena_page - 1);
  const uintptr_t b = (reinterpret_cast<uintptr_t>(hi) + arena_page - 1) & ~uintptr_t(arena_page - 1);
  if (a >= b) return;
  prefault_state& s = state();
  std::lock_guard l(s.m);
  if (s.unsupported) return;
  if (!s.started) {
    try {
      helper_thread([&s] { serve(s); }).detach();
    } catch (const std::system_error&) {
      s.unsupported = true;  // no thread to spare: every page faults in where it is used
      return;
    }
    s.started = true;
  }
  s.queue.push_back({a, b});
  s.work.notify_one();
}

void prefault_cancel(void* lo, void* hi) {
  const range c{reinterpret_cast<uintptr_t>(lo), reinterpret_cast<uintptr_t>(hi)};
  prefault_state& s = state();
  std::unique_lock l(s.m);
  std::erase_if(s.queue, [&](const range& r) { return r.overlaps(c.lo, c.hi); });
  s.idle.wait(l, [&] { return !s.busy.overlaps(c.lo, c.hi); });
}

void prefault_drain() {
  prefault_state& s = state();
  std::unique_lock l(s.m);
  s.idle.wait(l, [&] { return s.queue.empty() && s.busy.hi == 0; });
}

}  // namespace vesk
