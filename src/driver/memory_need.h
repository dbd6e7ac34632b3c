// The memory a run needs, estimated from its method and the size of the
// file, and checked against the machine's limits before the work starts.
#pragma once

#include <cstdint>
#include <string>

#include "driver/method.h"
#include "util/memory_limits.h"

namespace vesk {

// Peak figures of one run, compressing or restoring an n-byte file.
struct memory_need {
  int64_t resident;       // memory touched (what cgroup limits and MemAvailable bound)
  int64_t address_space;  // address space mapped (what ulimit -v bounds)
};

// Estimates from measurements of texts, executables and random bytes (the
// data with the most contexts per byte): the models' tables grow with the
// distinct contexts of a stream, so a file can need well below them.
memory_need expected_memory(method m, int64_t n);

// The warning for a run of that need under those limits, or "" when it is
// likely to fit: the cgroup's room and MemAvailable bound what the run may
// touch before the system ends it.
std::string memory_warning(const memory_need& need, const memory_limits& l);

// Called once the call knows its method and the file's size: a failed
// allocation from then on quotes the estimate in its message; and a note
// (call.h) warns when the call is likely to need more memory than the
// cgroup's limit or MemAvailable allows.
void check_memory(method m, int64_t n);

}  // namespace vesk
