// Faulting pages in ahead of their use, on a thread of its own.
//
// The first touch of a fresh page costs a fault in which the kernel (and,
// on a virtual machine that hands freed memory back to its host, the host
// too) finds and clears the memory: here about a millisecond per megabyte,
// as much as a dense model spends coding. A table that grows front to back
// knows which pages it will touch next, so it asks for them here and a
// background thread faults them in while the model codes. Faulting in
// leaves the contents alone (MADV_POPULATE_WRITE), so a request never
// changes what the memory holds and the coded bits never depend on it.
#pragma once

namespace vesk {

// Queues [lo, hi) to be faulted in and returns at once. Does nothing where
// the system cannot fault pages in without writing them.
void prefault(void* lo, void* hi);

// Drops the queued requests that overlap [lo, hi) and waits until none of
// them is being served: call it before that memory is released.
void prefault_cancel(void* lo, void* hi);

// Waits until every queued request is served; for tests and measurements.
void prefault_drain();

}  // namespace vesk
