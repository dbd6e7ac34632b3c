#include "util/big_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace vesk {
namespace {

constexpr uintptr_t huge_page = uintptr_t{1} << 21;

TEST(BigBuffer, LargeBlocksStartOnHugePageBoundariesAndHoldTheirBytes) {
  for (size_t bytes : {size_t{1} << 20, (size_t{5} << 20) + 123, size_t{64} << 20}) {
    auto* p = static_cast<uint8_t*>(big_alloc(bytes));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % huge_page, 0u) << bytes;
    std::memset(p, 0xA5, bytes);
    EXPECT_EQ(p[0], 0xA5);
    EXPECT_EQ(p[bytes - 1], 0xA5);
    big_free(p);
  }
  // Small blocks come from the ordinary heap; both kinds free alike.
  auto* s = static_cast<uint8_t*>(big_alloc(100));
  ASSERT_NE(s, nullptr);
  std::memset(s, 1, 100);
  big_free(s);
  big_free(nullptr);
}

TEST(BigBuffer, SizesPastAddressSpaceFailCleanly) {
  // Rounding up to a whole huge page would wrap around; a vector's count
  // times its element size would.
  EXPECT_EQ(big_alloc(SIZE_MAX - 10), nullptr);
  big_allocator<uint64_t> a;
  EXPECT_THROW(static_cast<void>(a.allocate(SIZE_MAX / 4)), std::bad_alloc);
}

TEST(BigBuffer, VectorKeepsItsValuesAsItGrowsPastTheThreshold) {
  // Growth moves the elements from heap blocks to huge-page blocks.
  big_vector<uint32_t> v;
  for (uint32_t i = 0; i < 3000000; i++) v.push_back(i * 2654435761u);
  bool same = true;
  for (uint32_t i = 0; i < v.size(); i++) same &= v[i] == i * 2654435761u;
  EXPECT_TRUE(same);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(v.data()) % huge_page, 0u);
  big_vector<uint8_t> z(size_t{3} << 20);  // value-initialised
  size_t nonzero = 0;
  for (uint8_t b : z) nonzero += b != 0;
  EXPECT_EQ(nonzero, 0u);
}

}  // namespace
}  // namespace vesk
