// Faulting fresh pages in costs the kernel a page clear each (most of a
// second per gigabyte on the virtual machines measured here). A model's
// table knows which pages it will use next, so a thread of its own faults
// them in ahead of use, on the core the coding thread leaves free.
#pragma once

#include <cstddef>

namespace vesk {

// Asks for [p, p + n) to be faulted in (writable) soon; returns at once.
// Does nothing on a machine with one core. The range must stay mapped for
// the process's life (arena memory does).
void prefault(void* p, size_t n);

}  // namespace vesk
