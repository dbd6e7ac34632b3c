#include "util/cores.h"

#include <sched.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace vesk {

namespace {

// The process's cgroup path in the unified (v2) hierarchy, or "".
std::string cgroup_path(const char* controller) {
  std::ifstream f("/proc/self/cgroup");
  std::string line;
  while (std::getline(f, line)) {
    // hierarchy-id:controllers:path
    const size_t a = line.find(':'), b = line.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    const std::string controllers = line.substr(a + 1, b - a - 1);
    if (controller == nullptr ? controllers.empty()
                              : ("," + controllers + ",").find(std::string(",") + controller + ",") !=
                                    std::string::npos)
      return line.substr(b + 1);
  }
  return "";
}

int quota_cores() {
  // v2: "max 100000" or "<quota> <period>".
  {
    std::ifstream f("/sys/fs/cgroup" + cgroup_path(nullptr) + "/cpu.max");
    std::string quota;
    long long period = 0;
    if (f >> quota >> period && quota != "max") return cores_of_quota(std::stoll(quota), period);
  }
  // v1: cpu.cfs_quota_us (-1: none) and cpu.cfs_period_us.
  for (const char* dir : {"/sys/fs/cgroup/cpu,cpuacct", "/sys/fs/cgroup/cpu"}) {
    const std::string base = dir + cgroup_path("cpu");
    std::ifstream q(base + "/cpu.cfs_quota_us"), p(base + "/cpu.cfs_period_us");
    long long quota = 0, period = 0;
    if (q >> quota && p >> period) return cores_of_quota(quota, period);
  }
  return 0;
}

}  // namespace

int cores_of_quota(long long quota, long long period) {
  if (quota <= 0 || period <= 0) return 0;
  return static_cast<int>(std::max<long long>(1, (quota + period - 1) / period));
}

int usable_cores() {
  cpu_set_t set;
  int n = 1;
  if (sched_getaffinity(0, sizeof set, &set) == 0) n = std::max(1, CPU_COUNT(&set));
  try {
    const int q = quota_cores();
    if (q > 0) n = std::min(n, q);
  } catch (const std::exception&) {
    // An unreadable quota limits nothing.
  }
  return n;
}

}  // namespace vesk
