#include "util/memory_limits.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>

#include "support/support.h"

namespace vesk {
namespace {

constexpr const char* meminfo =
    "MemTotal:       24000000 kB\n"
    "MemFree:         1000000 kB\n"
    "MemAvailable:    2000000 kB\n";

constexpr int64_t unlimited_v1 = 9223372036854771712;

// Fake systems: the files at their paths, and what is read from them.
TEST(MemoryLimits, CgroupsAndMeminfo) {
  const std::string v1_unlimited = std::to_string(unlimited_v1);
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    int64_t limit, room, available, usable;
  } cases[] = {
      {"v2: the tightest group up the tree (the parent's room: its other members use the rest)",
       {{"/proc/self/cgroup", "0::/user.slice/job/run\n"},
        {"/proc/self/mountinfo", "24 1 0:22 / /proc rw - proc proc rw\n"
                                 "30 22 0:27 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw,nsdelegate\n"},
        {"/proc/meminfo", meminfo},
        {"/sys/fs/cgroup/user.slice/memory.max", "max\n"},
        {"/sys/fs/cgroup/user.slice/job/memory.max", "3000000000\n"},
        {"/sys/fs/cgroup/user.slice/job/memory.current", "2500000000\n"},
        {"/sys/fs/cgroup/user.slice/job/run/memory.max", "4000000000\n"},
        {"/sys/fs/cgroup/user.slice/job/run/memory.current", "1000000000\n"}},
       3'000'000'000, 500'000'000, 2'048'000'000, 500'000'000},
      {"v1: the memory hierarchy beside others (the cpu one's files are no limits)",
       {{"/proc/self/cgroup", "5:cpu,cpuacct:/\n4:memory:/batch/41e0\n0::/\n"},
        {"/proc/self/mountinfo",
         "31 30 0:28 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
         "34 30 0:31 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
         "40 30 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n"},
        {"/proc/meminfo", meminfo},
        {"/sys/fs/cgroup/memory/memory.limit_in_bytes", v1_unlimited + "\n"},
        {"/sys/fs/cgroup/memory/batch/memory.limit_in_bytes", v1_unlimited},
        {"/sys/fs/cgroup/memory/batch/41e0/memory.limit_in_bytes", "8589934592\n"},
        {"/sys/fs/cgroup/memory/batch/41e0/memory.usage_in_bytes", "106770432\n"},
        {"/sys/fs/cgroup/cpu,cpuacct/memory.limit_in_bytes", "1000\n"}},
       8589934592, 8589934592 - 106770432, 2'048'000'000, 2'048'000'000},
      {"a container: its group is the root of a mount from below the host's root",
       {{"/proc/self/cgroup", "0::/docker/abc/inner\n"},
        {"/proc/self/mountinfo", "50 40 0:30 /docker/abc /sys/fs/cgroup ro - cgroup2 cgroup rw\n"},
        {"/sys/fs/cgroup/memory.max", "1073741824\n"},
        {"/sys/fs/cgroup/memory.current", "73741824\n"},
        {"/sys/fs/cgroup/inner/memory.max", "max\n"}},
       1073741824, 1'000'000'000, -1, 1'000'000'000},
      {"nothing known: no limit",
       {{"/proc/self/cgroup", "garbage\n::\n"}, {"/proc/meminfo", "MemTotal: 1 kB\n"}},
       -1, -1, -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::scratch_dir d;
    for (const auto& [path, text] : c.files) {
      std::filesystem::create_directories(d.dir + path.substr(0, path.rfind('/')));
      test::write_bytes(d.dir + path, test::as_bytes(text));
    }
    const memory_limits l = read_memory_limits(d.dir);
    EXPECT_EQ(std::tie(l.cgroup_limit, l.cgroup_room, l.available), std::tie(c.limit, c.room, c.available));
    EXPECT_EQ(usable_memory(l), c.usable);
  }
}

TEST(MemoryLimits, AddressSpaceLimitIsTheProcessesAndFiguresForMessages) {
  EXPECT_EXIT(
      {
        rlimit rl{};
        getrlimit(RLIMIT_AS, &rl);
        rl.rlim_cur = rlim_t{6} << 30;
        setrlimit(RLIMIT_AS, &rl);
        std::_Exit(read_memory_limits().address_space == (int64_t{6} << 30) ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_GT(address_space_in_use(), 0);
  const std::tuple<int64_t, bool, const char*> cases[] = {  // bytes, rounded up, text
      {2'049'000'000, false, "2.0 GB"}, {2'049'000'000, true, "2.1 GB"},
      {1'500'000'000, false, "1.5 GB"}, {349'200'000, false, "349 MB"},
      {349'200'000, true, "350 MB"},    {999'999'999, false, "1000 MB"},
      {12'000'000'000, true, "12.0 GB"}};
  for (const auto& [n, up, text] : cases) EXPECT_EQ(memory_text(n, up), text) << n;
}

}  // namespace
}  // namespace vesk
