#include "util/prefault.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "util/arena.h"
#include "util/call.h"
#include "util/threads.h"

namespace vesk {

namespace {

// The thread faults in one huge page per call, so that a cancel waits for
// at most that.
constexpr uintptr_t chunk = uintptr_t{2} << 20;

void serve(prefault_queue& s) {
  std::unique_lock l(s.m);
  for (;;) {
    s.work.wait(l, [&] { return s.stopping || !s.queue.empty(); });
    if (s.stopping) return;
    prefault_queue::range& r = s.queue.front();
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

prefault_queue* queue_of_call() {
  return current_call != nullptr ? current_call->prefault : nullptr;
}

}  // namespace

prefault_queue::~prefault_queue() {
  {
    const std::lock_guard l(m);
    stopping = true;
    queue.clear();
  }
  work.notify_all();
  if (thread.joinable()) thread.join();
}

void prefault(void* lo, void* hi) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(lo) & ~uintptr_t(arena_page - 1);
  const uintptr_t b = (reinterpret_cast<uintptr_t>(hi) + arena_page - 1) & ~uintptr_t(arena_page - 1);
  prefault_queue* q = queue_of_call();
  if (q == nullptr || a >= b) return;
  prefault_queue& s = *q;
  std::lock_guard l(s.m);
  if (s.unsupported || s.stopping) return;
  if (!s.started) {
    try {
      s.thread = helper_thread([&s] { serve(s); });
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
  prefault_queue* q = queue_of_call();
  if (q == nullptr) return;
  const prefault_queue::range c{reinterpret_cast<uintptr_t>(lo), reinterpret_cast<uintptr_t>(hi)};
  std::unique_lock l(q->m);
  std::erase_if(q->queue, [&](const prefault_queue::range& r) { return r.overlaps(c.lo, c.hi); });
  q->idle.wait(l, [&] { return !q->busy.overlaps(c.lo, c.hi); });
}

void prefault_drain() {
  prefault_queue* q = queue_of_call();
  if (q == nullptr) return;
  std::unique_lock l(q->m);
  q->idle.wait(l, [&] { return q->queue.empty() && q->busy.hi == 0; });
}

}  // namespace vesk
