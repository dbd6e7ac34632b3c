// What bounds this process's memory, read from the system, and the clean
// stop when memory cannot be had.
//
// Three things can stop a run that needs more memory than the machine
// gives: the address-space limit (RLIMIT_AS, `ulimit -v`), which makes
// mappings fail, so the run can stop with a message; the memory limit of
// the process's control group (v2 memory.max, v1 memory.limit_in_bytes,
// of its own group or any group above it), past which the kernel kills it;
// and the memory the machine has free (MemAvailable), past which it pages
// and then kills. The last two cannot be met with a message once reached,
// so runs are checked against them beforehand, with estimates.
#pragma once

#include <cstdint>
#include <string>

namespace vesk {

// -1 stands for "no limit" or "not known".
struct memory_limits {
  int64_t address_space = -1;  // RLIMIT_AS, bytes
  int64_t cgroup_limit = -1;   // the smallest memory limit of the cgroup and those above it
  int64_t cgroup_room = -1;    // the least room left under those limits (limit less usage)
  int64_t available = -1;      // MemAvailable
};

// Reads the limits. `root` is prefixed to every path read (/proc/self/cgroup,
// /proc/self/mountinfo, /proc/meminfo and the cgroup files), for tests; the
// address-space limit is the process's own in any case.
memory_limits read_memory_limits(const std::string& root = "");

// Bytes of memory this process may still use: the least of the cgroup's
// room and MemAvailable; -1 when neither is known.
int64_t usable_memory(const memory_limits& l);

// Address space this process maps now (VmSize).
int64_t address_space_in_use();

// The address space the call is expected to need at its peak, given once
// it knows the input, for the refusal's figure (call.h); 0: not known.
void set_expected_address_space(int64_t bytes);

// Fails (kind memory) because `more` bytes of memory could not be had:
// says about how much the run needs and what limited it, e.g. "this file
// needs about 2.1 GB of memory; the address-space limit (ulimit -v) is
// 1.5 GB".
[[noreturn]] void refuse_memory(int64_t more);

// "2.1 GB", "350 MB": a figure for a memory message. Rounded up when `up`.
std::string memory_text(int64_t bytes, bool up = false);

}  // namespace vesk
