#include "coding/hashes.h"

#include <gtest/gtest.h>

#include "models/model_common.h"

namespace vesk {
namespace {

TEST(Hashes, GoldenValues) {
  EXPECT_EQ(hash_a(7), 0xf2aa29d9d3b0b597u);
  EXPECT_EQ(nibble_hash(0), 0xe067568d5a33c5a2u);
  EXPECT_EQ(key_word(0x0123456789abcdef, key_m1), 0x862bcbb39a2da64bu);
  // The empty string hashes to the final mix of the seed.
  const uint8_t zeros[1] = {};
  EXPECT_EQ(fasthash64(zeros, 0), fasthash_mix(fasthash_seed));
  // The keys of the byte values enter every hashed context of the byte
  // models.
  EXPECT_EQ(byte_keys[0], 0x80c73e7234a52fcu);
  EXPECT_EQ(byte_keys[255], 0xee776a21337d8a9fu);
}

TEST(Hashes, EveryWordBitCounts) {
  // The word mix is a bijection: no two contexts that differ in one bit
  // share a hash, whichever multiplier.
  for (const uint64_t m : {key_m1, key_m2, key_m3}) {
    const uint64_t w = 0x0123456789abcdef, h = key_word(w, m);
    for (int bit = 0; bit < 64; bit++) EXPECT_NE(key_word(w ^ (uint64_t{1} << bit), m), h) << bit;
  }
}

}  // namespace
}  // namespace vesk
