#include "util/arena.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "cli/signals.h"
#include "support/support.h"
#include "util/memory_limits.h"

namespace vesk {
namespace {


TEST(Arena, BlocksAreAdjacentAndSizedFromTheRequest) {
  const int64_t before = arena_allocated();
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
  const int64_t high = arena_allocated();
  arena_release(a, b, c);
  EXPECT_EQ(arena_allocated(), before);
  EXPECT_GE(arena_peak(), high);
}

// Misuse is an internal check, not a crash: out-of-order release, a null
// block, writes into the guard zones, requests beyond the region.
TEST(Arena, MisuseStops) {
  uint8_t* a = arena_alloc(100);
  uint8_t* b = arena_alloc(100);
  EXPECT_STOPS(arena_free(a), "a-allocstore==alloctable\\[alloctablec-1\\]");
  EXPECT_STOPS(arena_free_n(2, a, static_cast<uint8_t*>(nullptr)), "assertion \"a\\[i\\]\" failed");
  EXPECT_STOPS(arena_free_n(3, a, static_cast<uint8_t*>(nullptr), b), "assertion \"a\\[i\\]\" failed");
  EXPECT_STOPS((b[4096] = 0, arena_free_n(2, a, b)), "a2b\\[i\\]==rand_value");
  EXPECT_STOPS((b[-1] = 0, arena_free_n(2, a, b)), "a2\\[i\\]==rand_value");
  EXPECT_STOPS(arena_alloc(arena_size), "assertion \"0\" failed");
  EXPECT_STOPS(arena_alloc(-1), "assertion \"n>=0\" failed");
  // The tail of the last usable page is not a guard: writing there is allowed.
  b[4095] = 1;
  // Passed in allocation order, the blocks are released last first.
  const int64_t blocks = arena_blocks();
  arena_free_n(2, a, b);
  EXPECT_EQ(arena_blocks(), blocks - 2);
}

TEST(Arena, ZeroedBlocksReadZeroAfterDirtyReuse) {
  for (const int64_t n : {int64_t{8} << 20, int64_t{100}}) {
    uint8_t* a = arena_alloc(n);
    std::memset(a, 0x5A, static_cast<size_t>(std::max<int64_t>(n, 4096)));
    arena_free(a);
    uint8_t* b = arena_alloc_zeroed(n);
    ASSERT_EQ(a, b);
    for (int64_t i = 0; i < std::max<int64_t>(n, 4096); i += n > 4096 ? 777 : 1) ASSERT_EQ(b[i], 0) << i;
    EXPECT_EQ(b[n - 1], 0);
    arena_free(b);
  }
}

TEST(Arena, GrowableBlocksKeepTheirBytesWhereverTheyMove) {
  const int64_t blocks = arena_blocks(), before = arena_allocated();
  uint8_t* under = arena_alloc(100);  // a block below, which must stay put
  std::memset(under, 7, 100);
  int64_t dirty;
  uint8_t* a = arena_alloc_growable(1 << 20, &dirty);
  for (int64_t i = 0; i < (1 << 20); i++) a[i] = static_cast<uint8_t>(i * 31);
  arena_growth g = arena_grow(a, int64_t{64} << 20, int64_t{80} << 20);
  ASSERT_GE(g.usable, int64_t{64} << 20);
  // Whatever the block held before, and the old upper guard, may read as dirty.
  EXPECT_GE(g.dirty, (int64_t{1} << 20) + 4096);
  for (int64_t i = 0; i < (1 << 20); i++) ASSERT_EQ(g.block[i], static_cast<uint8_t>(i * 31));
  std::memset(g.block, 0x3C, static_cast<size_t>(g.usable));  // every usable byte is writable
  // Growing within what the segment maps moves nothing.
  const arena_growth again = arena_grow(g.block, g.usable - 4096, g.usable);
  EXPECT_EQ(again.block, g.block);
  EXPECT_EQ(again.usable, g.usable);
  arena_free(again.block);
  for (int i = 0; i < 100; i++) ASSERT_EQ(under[i], 7);
  arena_free(under);
  EXPECT_EQ(arena_blocks(), blocks);
  EXPECT_EQ(arena_allocated(), before);
  // Only the most recent block grows, growable or not.
  uint8_t* c = arena_alloc_growable(100, &dirty);
  uint8_t* d = arena_alloc(100);
  EXPECT_STOPS(arena_grow(c, 1 << 20, 1 << 20), "a growing block is the most recent");
  EXPECT_STOPS(arena_grow(d, 1 << 20, 1 << 20), "a growing block is the most recent");
  arena_release(c, d);
}

// A thread's region is its own: blocks there leave the main region and
// the other threads' regions alone, and it grows past its reservation.
TEST(Arena, ThreadRegionsAreTheirOwn) {
  const int64_t main_blocks = arena_blocks(), main_allocated = arena_allocated();
  constexpr int threads = 16;
  constexpr int64_t reserve = int64_t{64} << 20;
  std::atomic<int> good{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; t++) {
    pool.emplace_back([&, t] {
      const arena_thread_region region(reserve);
      bool ok = arena_blocks() == 0 && arena_allocated() == 0 && arena_mapped() >= reserve;
      uint8_t* a = arena_alloc(int64_t{40} << 20);  // within the reservation: nothing more mapped
      ok = ok && arena_mapped() == reserve;
      uint8_t* b = arena_alloc_zeroed(int64_t{100} << 20);  // beyond it: the region grows
      std::memset(a, t, 4096);
      b[(int64_t{100} << 20) - 1] = static_cast<uint8_t>(t);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the others run meanwhile
      ok = ok && arena_blocks() == 2 && a[4095] == t && b[0] == 0 &&
           arena_mapped() >= (int64_t{140} << 20);
      arena_release(a, b);
      if (ok && arena_blocks() == 0) good++;
    });
  }
  for (auto& p : pool) p.join();
  EXPECT_EQ(good.load(), threads);
  EXPECT_EQ(arena_blocks(), main_blocks);
  EXPECT_EQ(arena_allocated(), main_allocated);
  // A region's address space is mapped while it lives and returned when it
  // ends; the thread then allocates from where it did before.
  const int64_t space = address_space_in_use();
  {
    const arena_thread_region region(int64_t{512} << 20);
    EXPECT_GE(address_space_in_use() - space, int64_t{512} << 20);
    arena_free(arena_alloc(int64_t{700} << 20));
  }
  EXPECT_LT(address_space_in_use() - space, int64_t{16} << 20);
  EXPECT_EQ(arena_blocks(), main_blocks);
}

// Lets this process map `more` bytes beyond what it maps now.
void limit_address_space(int64_t more) {
  rlimit rl{};
  getrlimit(RLIMIT_AS, &rl);
  rl.rlim_cur = static_cast<rlim_t>(address_space_in_use() + more);
  setrlimit(RLIMIT_AS, &rl);
}

// Under an address-space limit the region maps only what its blocks need,
// and a request beyond the limit stops with the memory message, not an
// internal check.
TEST(Arena, ARefusedMappingStopsWithTheMemoryMessage) {
  const char* message = "vesk: this file needs about [0-9.]+ [GM]B of memory; the address-space "
                        "limit \\(ulimit -v\\) is [0-9.]+ [GM]B";
  EXPECT_STOPS((limit_address_space(int64_t{256} << 20), arena_free(arena_alloc(int64_t{64} << 20)),
                arena_alloc(int64_t{1} << 30)),
               message);
  int64_t dirty;
  EXPECT_STOPS((limit_address_space(int64_t{256} << 20),
                arena_grow(arena_alloc_growable(int64_t{64} << 20, &dirty), int64_t{2} << 30,
                           int64_t{2} << 30)),
               message);
}

// A fault is a crash, not a refusal: the process ends by the signal, so a
// caller can tell the two apart. (A real fault too, not a null pointer,
// which the sanitizers catch first.)
TEST(Arena, SegmentationFaultsEndByTheSignalWithAMessage) {
  EXPECT_EXIT((install_fault_handler(), raise(SIGSEGV)), testing::KilledBySignal(SIGSEGV),
              "Segmentation fault");
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  EXPECT_EXIT(
      {
        install_fault_handler();
        *static_cast<volatile int*>(page) = 1;
      },
              testing::KilledBySignal(SIGSEGV), "Segmentation fault");
  munmap(page, 4096);
}

}  // namespace
}  // namespace vesk
