// Memory by whole pages: huge-page buffers, and pages faulted in ahead.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "util/big_buffer.h"
#include "util/prefault.h"

namespace vesk {
namespace {

constexpr size_t page = 4096;

// A private anonymous mapping of its own, unmapped at the end.
struct mapping {
  size_t size;
  uint8_t* p;
  explicit mapping(size_t n)
      : size(n),
        p(static_cast<uint8_t*>(
            mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0))) {}
  ~mapping() { munmap(p, size); }
  size_t resident_pages(size_t lo, size_t hi) const {
    std::vector<unsigned char> v((hi - lo) / page);
    if (mincore(p + lo, hi - lo, v.data()) != 0) return 0;
    size_t n = 0;
    for (unsigned char c : v) n += c & 1;
    return n;
  }
};

bool system_can_prefault() {
  mapping m(page);
  return madvise(m.p, page, MADV_POPULATE_WRITE) == 0;
}

TEST(Prefault, FaultsPagesInLeavingTheirContentsAndCancelDropsWhatIsQueued) {
  mapping m(64 << 20);
  ASSERT_NE(m.p, MAP_FAILED);
  // Some pages hold data already; the rest have never been touched.
  for (size_t i = 0; i < m.size; i += 1 << 20) std::memset(m.p + i, static_cast<int>(i >> 20) + 1, 100);
  prefault(m.p + 5, m.p + m.size - 5);  // rounded out to whole pages
  prefault_drain();
  for (size_t i = 0; i < m.size; i += page) {
    ASSERT_EQ(m.p[i], i % (1 << 20) ? 0 : static_cast<int>(i >> 20) + 1) << i;
    ASSERT_EQ(m.p[i + 100], 0) << i;
  }
  if (!system_can_prefault()) GTEST_SKIP() << "this kernel cannot fault pages in ahead";
  EXPECT_EQ(m.resident_pages(0, m.size), m.size / page);
  mapping big(size_t{1} << 30);
  ASSERT_NE(big.p, MAP_FAILED);
  // Many small requests: after the cancel none is served, so the pages in
  // memory stop growing at once.
  for (size_t i = 0; i < big.size; i += 2 << 20) prefault(big.p + i, big.p + i + (2 << 20));
  prefault_cancel(big.p, big.p + big.size);
  const size_t after_cancel = big.resident_pages(0, big.size);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  prefault_drain();
  EXPECT_EQ(big.resident_pages(0, big.size), after_cancel);
  EXPECT_LT(after_cancel, big.size / page);
  // A cancel of another range leaves this one's requests alone.
  prefault(big.p, big.p + (8 << 20));
  prefault_cancel(m.p, m.p + m.size);
  prefault_drain();
  EXPECT_EQ(big.resident_pages(0, 8 << 20), size_t{8 << 20} / page);
}

constexpr uintptr_t huge_page = uintptr_t{1} << 21;

// Small blocks come from the ordinary heap; both kinds free alike.
TEST(BigBuffer, BlocksOnHugePagesVectorsThatGrowAndSizesPastAddressSpace) {
  for (size_t bytes : {size_t{100}, size_t{1} << 20, (size_t{5} << 20) + 123, size_t{64} << 20}) {
    auto* p = static_cast<uint8_t*>(big_alloc(bytes));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(bytes < 4096 || reinterpret_cast<uintptr_t>(p) % huge_page == 0) << bytes;
    std::memset(p, 0xA5, bytes);
    big_free(p);
  }
  big_free(nullptr);
  // Rounding up to a whole huge page would wrap around; a vector's count
  // times its element size would.
  EXPECT_EQ(big_alloc(SIZE_MAX - 10), nullptr);
  big_allocator<uint64_t> a;
  EXPECT_THROW(static_cast<void>(a.allocate(SIZE_MAX / 4)), std::bad_alloc);
  // Growth moves the elements from heap blocks to huge-page blocks.
  big_vector<uint32_t> v;
  for (uint32_t i = 0; i < 3000000; i++) v.push_back(i * 2654435761u);
  for (uint32_t i = 0; i < v.size(); i++) ASSERT_EQ(v[i], i * 2654435761u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(v.data()) % huge_page, 0u);
  big_vector<uint8_t> z(size_t{3} << 20);  // value-initialised
  EXPECT_EQ(std::count(z.begin(), z.end(), 0), static_cast<long>(z.size()));
}

}  // namespace
}  // namespace vesk
