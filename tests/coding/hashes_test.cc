#include "coding/hashes.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vesk {
namespace {

TEST(Hashes, GoldenValues) {
  EXPECT_EQ(hash_a(7), 0xf2aa29d9d3b0b597u);
  EXPECT_EQ(nibble_hash(0), 0xe067568d5a33c5a2u);
  uint8_t zeros[24] = {};
  EXPECT_EQ(hash_bytes8(zeros), 0x3498743967918739u);
  // The empty string hashes to the final mix of the seed.
  EXPECT_EQ(fasthash64(zeros, 0), fasthash_mix(fasthash_seed));
}

TEST(Hashes, EveryKeyByteCounts) {
  uint8_t key[24];
  for (int i = 0; i < 24; i++) key[i] = static_cast<uint8_t>(i * 7 + 1);
  const uint64_t h12 = hash_bytes12(key), h20 = hash_bytes20(key), h24 = hash_bytes24(key);
  for (int i = 0; i < 24; i++) {
    key[i] ^= 0x40;
    EXPECT_TRUE(i >= 12 || hash_bytes12(key) != h12) << i;
    EXPECT_TRUE(i >= 20 || hash_bytes20(key) != h20) << i;
    EXPECT_NE(hash_bytes24(key), h24) << i;
    key[i] ^= 0x40;
  }
}

}  // namespace
}  // namespace vesk
