#include "driver/memory_need.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

// The estimates grow with the file, never fall below a small run's needs,
// never exceed what the largest input could need, and a run's address
// space is at least the memory it touches.
TEST(MemoryNeed, EstimatesGrowWithTheFileAndStayBounded) {
  for (method m : {method::stored, method::text, method::mixed}) {
    memory_need last{0, 0};
    for (int64_t n = 0; n < 1'001'000'001; n = n * 3 + 1000) {
      const memory_need e = expected_memory(m, n);
      EXPECT_GE(e.resident, last.resident) << n;
      EXPECT_GE(e.address_space, last.address_space) << n;
      EXPECT_GE(e.address_space, e.resident) << n;
      EXPECT_GT(e.resident, 1'000'000) << n;
      EXPECT_LE(e.address_space, int64_t{24'000'000'000}) << n;
      last = e;
    }
  }
  // A 1 KB file fits in tens of megabytes; the models' tables dwarf the
  // stored method's copy of a file of 20 MB.
  EXPECT_LT(expected_memory(method::text, 1000).address_space, 100'000'000);
  EXPECT_GT(expected_memory(method::mixed, 20'000'000).resident,
            10 * expected_memory(method::stored, 20'000'000).resident);
}

TEST(MemoryNeed, WarnsWhenTheRunIsLikelyToExceedTheCgroupOrTheFreeMemory) {
  const memory_need need{3'200'000'000, 5'000'000'000};
  const struct {
    int64_t room, available;
    const char* warning;
  } cases[] = {
      {-1, -1, ""},
      {4'000'000'000, 8'000'000'000, ""},
      {2'000'000'000, 8'000'000'000,
       "Warning: vesk may need about 3.2 GB of memory for this file; the memory limit of its "
       "cgroup leaves 2.0 GB\n"},
      {-1, 1'500'000'000,
       "Warning: vesk may need about 3.2 GB of memory for this file; only 1.5 GB is available\n"},
      {2'000'000'000, 1'000'000'000,  // the cgroup is named first
       "Warning: vesk may need about 3.2 GB of memory for this file; the memory limit of its "
       "cgroup leaves 2.0 GB\n"},
  };
  for (const auto& c : cases) {
    memory_limits l;
    l.cgroup_room = c.room;
    l.available = c.available;
    l.address_space = 1'000'000'000;  // address space is refused when it comes, not warned of
    EXPECT_EQ(memory_warning(need, l), c.warning) << c.room << " " << c.available;
  }
}

}  // namespace
}  // namespace vesk
