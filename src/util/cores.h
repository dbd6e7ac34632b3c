// How many cores this process may run on: its CPU affinity, lowered by a
// cgroup CPU quota (cgroup v2 cpu.max, v1 cpu.cfs_quota_us) when one is set.
#pragma once

namespace vesk {

int usable_cores();

// A quota of `quota` microseconds per `period` as whole cores (rounded up),
// or 0 when there is none.
int cores_of_quota(long long quota, long long period);

}  // namespace vesk
