#include "util/memory_limits.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>

#include "support/support.h"

namespace vesk {
namespace {

constexpr const char* meminfo =
    "MemTotal:       24000000 kB\n"
    "MemFree:         1000000 kB\n"
    "MemAvailable:    2000000 kB\n";

constexpr int64_t unlimited_v1 = 9223372036854771712;

// A fake system under a scratch directory: files are written at their
// paths below it.
struct fake_system {
  test::scratch_dir d;
  void put(const std::string& path, const std::string& text) {
    const std::string full = d.dir + path;
    const std::string dir = full.substr(0, full.rfind('/'));
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
    test::write_bytes(full, test::bytes(text.begin(), text.end()));
  }
  memory_limits read() { return read_memory_limits(d.dir); }
};

TEST(MemoryLimits, CgroupV2TheTightestGroupUpTheTree) {
  fake_system s;
  s.put("/proc/self/cgroup", "0::/user.slice/job/run\n");
  s.put("/proc/self/mountinfo",
        "24 1 0:22 / /proc rw - proc proc rw\n"
        "30 22 0:27 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw,nsdelegate\n");
  s.put("/proc/meminfo", meminfo);
  s.put("/sys/fs/cgroup/user.slice/memory.max", "max\n");
  s.put("/sys/fs/cgroup/user.slice/job/memory.max", "3000000000\n");
  s.put("/sys/fs/cgroup/user.slice/job/memory.current", "2500000000\n");
  s.put("/sys/fs/cgroup/user.slice/job/run/memory.max", "4000000000\n");
  s.put("/sys/fs/cgroup/user.slice/job/run/memory.current", "1000000000\n");
  const memory_limits l = s.read();
  EXPECT_EQ(l.cgroup_limit, 3'000'000'000);
  EXPECT_EQ(l.cgroup_room, 500'000'000);  // the parent's: its other members use the rest
  EXPECT_EQ(l.available, 2'000'000'000 * int64_t{1024} / 1000);
  EXPECT_EQ(usable_memory(l), 500'000'000);
}

TEST(MemoryLimits, CgroupV1MemoryHierarchyBesideOthers) {
  fake_system s;
  s.put("/proc/self/cgroup",
        "5:cpu,cpuacct:/\n4:memory:/batch/41e0\n0::/\n");
  s.put("/proc/self/mountinfo",
        "31 30 0:28 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
        "34 30 0:31 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
        "40 30 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n");
  s.put("/proc/meminfo", meminfo);
  s.put("/sys/fs/cgroup/memory/memory.limit_in_bytes", std::to_string(unlimited_v1) + "\n");
  s.put("/sys/fs/cgroup/memory/batch/memory.limit_in_bytes", std::to_string(unlimited_v1));
  s.put("/sys/fs/cgroup/memory/batch/41e0/memory.limit_in_bytes", "8589934592\n");
  s.put("/sys/fs/cgroup/memory/batch/41e0/memory.usage_in_bytes", "106770432\n");
  // The cpu hierarchy's files are not memory limits.
  s.put("/sys/fs/cgroup/cpu,cpuacct/memory.limit_in_bytes", "1000\n");
  const memory_limits l = s.read();
  EXPECT_EQ(l.cgroup_limit, 8589934592);
  EXPECT_EQ(l.cgroup_room, 8589934592 - 106770432);
  EXPECT_EQ(usable_memory(l), 2'048'000'000);  // MemAvailable is less
}

// A container sees its own group as the root of a mount whose root is the
// group's path on the host.
TEST(MemoryLimits, CgroupMountedFromBelowTheRoot) {
  fake_system s;
  s.put("/proc/self/cgroup", "0::/docker/abc/inner\n");
  s.put("/proc/self/mountinfo",
        "50 40 0:30 /docker/abc /sys/fs/cgroup ro - cgroup2 cgroup rw\n");
  s.put("/sys/fs/cgroup/memory.max", "1073741824\n");
  s.put("/sys/fs/cgroup/memory.current", "73741824\n");
  s.put("/sys/fs/cgroup/inner/memory.max", "max\n");
  const memory_limits l = s.read();
  EXPECT_EQ(l.cgroup_limit, 1073741824);
  EXPECT_EQ(l.cgroup_room, 1'000'000'000);
  EXPECT_EQ(l.available, -1);
  EXPECT_EQ(usable_memory(l), 1'000'000'000);
}

TEST(MemoryLimits, NothingKnownMeansNoLimit) {
  fake_system s;
  s.put("/proc/self/cgroup", "garbage\n::\n");
  s.put("/proc/meminfo", "MemTotal: 1 kB\n");
  const memory_limits l = s.read();
  EXPECT_EQ(l.cgroup_limit, -1);
  EXPECT_EQ(l.cgroup_room, -1);
  EXPECT_EQ(l.available, -1);
  EXPECT_EQ(usable_memory(l), -1);
}

TEST(MemoryLimits, AddressSpaceLimitIsTheProcesses) {
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
}

TEST(MemoryLimits, FiguresForMessages) {
  const struct {
    int64_t bytes;
    bool up;
    const char* text;
  } cases[] = {
      {2'049'000'000, false, "2.0 GB"}, {2'049'000'000, true, "2.1 GB"},
      {1'500'000'000, false, "1.5 GB"}, {349'200'000, false, "349 MB"},
      {349'200'000, true, "350 MB"},    {999'999'999, false, "1000 MB"},
      {12'000'000'000, true, "12.0 GB"},
  };
  for (const auto& c : cases) EXPECT_EQ(memory_text(c.bytes, c.up), c.text) << c.bytes;
}

}  // namespace
}  // namespace vesk
