// Faulting pages in ahead of their use, on a thread of the call's own.
//
// The first touch of a fresh page costs a fault in which the kernel (and,
// on a virtual machine that hands freed memory back to its host, the host
// too) finds and clears the memory: here about a millisecond per megabyte,
// as much as a dense model spends coding. A table that grows front to back
// knows which pages it will touch next, so it asks for them here and a
// thread faults them in while the model codes. Faulting in leaves the
// contents alone (MADV_POPULATE_WRITE), so a request never changes what
// the memory holds and the coded bits never depend on it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace vesk {

// A call's prefaulter (call.h): its thread starts on the first request and
// ends, joined, when the queue goes, with the call.
struct prefault_queue {
  struct range {
    uintptr_t lo, hi;
    bool overlaps(uintptr_t a, uintptr_t b) const { return lo < b && a < hi; }
  };
  prefault_queue() = default;
  ~prefault_queue();
  prefault_queue(const prefault_queue&) = delete;
  prefault_queue& operator=(const prefault_queue&) = delete;
  std::mutex m;
  std::condition_variable work, idle;
  std::deque<range> queue;
  range busy{0, 0};  // the chunk being faulted in
  bool started = false;
  bool unsupported = false;
  bool stopping = false;
  std::thread thread;
};

// Queues [lo, hi) to be faulted in by the current call's prefaulter and
// returns at once. Does nothing outside a call that has one, or where the
// system cannot fault pages in without writing them.
void prefault(void* lo, void* hi);

// Drops the queued requests that overlap [lo, hi) and waits until none of
// them is being served: call it before that memory is released.
void prefault_cancel(void* lo, void* hi);

// Waits until every queued request is served; for tests and measurements.
void prefault_drain();

}  // namespace vesk
