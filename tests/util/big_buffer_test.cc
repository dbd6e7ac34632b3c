#include "util/big_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace vesk {
namespace {

constexpr uintptr_t huge_page = uintptr_t{1} << 21;

// Small blocks come from the ordinary heap; both kinds free alike.
TEST(BigBuffer, LargeBlocksStartOnHugePageBoundariesAndHoldTheirBytes) {
  for (size_t bytes : {size_t{100}, size_t{1} << 20, (size_t{5} << 20) + 123, size_t{64} << 20}) {
    auto* p = static_cast<uint8_t*>(big_alloc(bytes));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(bytes < 4096 || reinterpret_cast<uintptr_t>(p) % huge_page == 0) << bytes;
    std::memset(p, 0xA5, bytes);
    big_free(p);
  }
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
  for (uint32_t i = 0; i < v.size(); i++) ASSERT_EQ(v[i], i * 2654435761u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(v.data()) % huge_page, 0u);
  big_vector<uint8_t> z(size_t{3} << 20);  // value-initialised
  EXPECT_EQ(std::count(z.begin(), z.end(), 0), static_cast<long>(z.size()));
}

}  // namespace
}  // namespace vesk
