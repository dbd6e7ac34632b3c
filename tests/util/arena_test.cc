#include "util/arena.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "support/support.h"

namespace vesk {
namespace {

// Death-test bodies print through stdout; gtest matches stderr.
#define EXPECT_STOPS(stmt, regex) \
  EXPECT_EXIT(                    \
      {                           \
        dup2(2, 1);               \
        stmt;                     \
      },                          \
      testing::ExitedWithCode(1), regex)

class Arena : public testing::Test {
 protected:
  void SetUp() override { test::init_runtime(); }
};

TEST_F(Arena, BlocksAreAdjacentAndSizedFromTheRequest) {
  int64_t before = arena_allocated();
  uint8_t* a = arena_alloc(0);
  EXPECT_EQ(arena_allocated() - before, 12288);  // guard, one page, guard
  uint8_t* b = arena_alloc(4096);
  EXPECT_EQ(arena_allocated() - before, 12288 + 16384);
  // b's lower guard starts where a's upper guard ends.
  EXPECT_EQ(b - 4096, a + 4096 + 4096);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 4096, 0u);
  uint8_t* c = arena_alloc(5000);
  EXPECT_EQ(c - 4096, b + 8192 + 4096);
  std::memset(c, 0xAB, 8192);  // the whole usable part: 5000 rounded up past a page
  arena_release(a, b, c);
  EXPECT_EQ(arena_allocated(), before);
}

TEST_F(Arena, PeakKeepsTheMaximum) {
  int64_t before = arena_allocated();
  uint8_t* a = arena_alloc(1 << 20);
  int64_t high = arena_allocated();
  arena_free(a);
  EXPECT_EQ(arena_allocated(), before);
  EXPECT_GE(arena_peak(), high);
}

TEST_F(Arena, FreeNReleasesLastFirst) {
  int64_t blocks = arena_blocks();
  uint8_t* a = arena_alloc(10);
  uint8_t* b = arena_alloc(10);
  uint8_t* c = arena_alloc(10);
  // Passing them in allocation order succeeds only if c goes first.
  arena_free_n(3, a, b, c);
  EXPECT_EQ(arena_blocks(), blocks);
}

TEST_F(Arena, FreeNWithANullReleasesNothing) {
  uint8_t* a = arena_alloc(10);
  uint8_t* b = arena_alloc(10);
  EXPECT_STOPS(arena_free_n(2, a, static_cast<uint8_t*>(nullptr)), "assertion \"a\\[i\\]\" failed");
  EXPECT_STOPS(arena_free_n(3, a, static_cast<uint8_t*>(nullptr), b),
               "assertion \"a\\[i\\]\" failed");
  arena_release(a, b);
}

TEST_F(Arena, OutOfOrderReleaseStops) {
  uint8_t* a = arena_alloc(100);
  uint8_t* b = arena_alloc(100);
  EXPECT_STOPS(arena_free(a), "a-allocstore==alloctable\\[alloctablec-1\\]");
  arena_release(a, b);
}

TEST_F(Arena, WritesIntoGuardZonesAreCaught) {
  uint8_t* a = arena_alloc(100);
  EXPECT_STOPS(
      {
        a[4096] = 0;
        arena_free(a);
      },
      "a2b\\[i\\]==rand_value");
  EXPECT_STOPS(
      {
        a[-1] = 0;
        arena_free(a);
      },
      "a2\\[i\\]==rand_value");
  // The tail of the last usable page is not a guard: writing there is allowed.
  a[4095] = 1;
  arena_free(a);
}

TEST_F(Arena, ZeroedBlocksReadZeroAfterDirtyReuse) {
  constexpr int64_t n = 8 << 20;
  uint8_t* a = arena_alloc(n);
  std::memset(a, 0x5A, n);
  arena_free(a);
  uint8_t* b = arena_alloc_zeroed(n);
  ASSERT_EQ(a, b);
  for (int64_t i = 0; i < n; i += 777) ASSERT_EQ(b[i], 0) << i;
  EXPECT_EQ(b[n - 1], 0);
  arena_free(b);
  uint8_t* c = arena_alloc(100);
  std::memset(c, 1, 4096);
  arena_free(c);
  uint8_t* d = arena_alloc_zeroed(100);
  for (int i = 0; i < 4096; i++) ASSERT_EQ(d[i], 0);
  arena_free(d);
}

TEST_F(Arena, RequestsBeyondTheRegionStop) {
  EXPECT_STOPS(arena_alloc(arena_size), "assertion \"0\" failed");
  EXPECT_STOPS(arena_alloc(-1), "assertion \"n>=0\" failed");
}

// A fault is a crash, not a refusal: the process ends by the signal, so a
// caller can tell the two apart.
TEST_F(Arena, SegmentationFaultsEndByTheSignalWithAMessage) {
  EXPECT_EXIT(
      {
        dup2(2, 1);
        raise(SIGSEGV);
      },
      testing::KilledBySignal(SIGSEGV), "Segmentation fault");
  EXPECT_EXIT(
      {
        dup2(2, 1);
        // A real fault (not a null pointer, which the sanitizers catch first).
        void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *static_cast<volatile int*>(page) = 1;
      },
      testing::KilledBySignal(SIGSEGV), "Segmentation fault");
}

}  // namespace
}  // namespace vesk
