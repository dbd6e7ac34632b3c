#include "coding/logistic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "coding/hashes.h"
#include "coding/states.h"
#include "models/model_common.h"

namespace vesk {
namespace {

TEST(Logistic, SquashGoldenValues) {
  EXPECT_EQ(squash(0.0f), 0.50449193f);
  EXPECT_EQ(squash(1.0f), 0.67064756f);
  EXPECT_EQ(squash(-15.0f), 3.1069918e-05f);
  EXPECT_EQ(squash(15.0f), 0.99997008f);
  EXPECT_EQ(squash(-15.5f), 3.0302112e-05f);
  EXPECT_EQ(squash(15.5f), 0.99996972f);
}

TEST(Logistic, SquashTable) {
  static squash_table t;
  build_squash_table(t);
  EXPECT_EQ(t.v[2048], squash(0.0f));
  EXPECT_EQ(t.v[0], squash_low);
  EXPECT_EQ(t.v[4095], squash_high);
  // Entries beyond 225 steps of 1/15 from the middle are the clamp values.
  EXPECT_EQ(t.v[2048 - 226], squash_low);
  EXPECT_EQ(t.v[2048 + 226], squash_high);
  EXPECT_NE(t.v[2048 - 225], squash_low);
  // Lookup range: x = 130 gives t = 1950 (valid), x = 131 gives 1965.
  EXPECT_EQ(squash_index(130.0f), 1950);
  EXPECT_EQ(squash_index(131.0f), 1965);
  EXPECT_EQ(squash_index(-0.490219f), -7);
}

TEST(Logistic, StretchIsAFastLog2OfTheOdds) {
  EXPECT_NEAR(stretch(0.5f), 0.057304f, 1e-6);  // the fast log2 of 1
  for (float p : {0.1f, 0.3f, 0.7f, 0.9f, 0.99f})
    EXPECT_NEAR(stretch(p), std::log2(p / (1 - p)), 0.09);
}

TEST(ByteKeys, GoldenValues) {
  // The keys enter every hashed context of the byte models: pinned.
  EXPECT_EQ(byte_keys[0], 0x80c73e7234a52fcu);
  EXPECT_EQ(byte_keys[255], 0xee776a21337d8a9fu);
}

TEST(Hashes, GoldenValues) {
  EXPECT_EQ(hash_a(7), 0xf2aa29d9d3b0b597u);
  EXPECT_EQ(nibble_hash(0), 0xe067568d5a33c5a2u);
  EXPECT_EQ(key_word(0x0123456789abcdef, key_m1), 0x862bcbb39a2da64bu);
  uint8_t zeros[24] = {};
  // The empty string hashes to the final mix of the seed.
  EXPECT_EQ(fasthash64(zeros, 0), fasthash_mix(fasthash_seed));
}

TEST(Hashes, EveryWordBitCounts) {
  // The word mix is a bijection: no two contexts that differ in one bit
  // share a hash, whichever multiplier.
  for (const uint64_t m : {key_m1, key_m2, key_m3}) {
    const uint64_t w = 0x0123456789abcdef, h = key_word(w, m);
    for (int bit = 0; bit < 64; bit++) EXPECT_NE(key_word(w ^ (uint64_t{1} << bit), m), h) << bit;
  }
}

TEST(States, FreshSlot) {
  const uint16_t fresh = 0;  // zero-fresh storage of the slot 0x0100
  EXPECT_EQ(slot_to_true(fresh), 0x0100);
  EXPECT_EQ(value_a[fresh & 0xFF], -0.490219f);
  EXPECT_EQ(value_b[fresh >> 8], -0.490219f);
  EXPECT_FALSE(slot_visited(fresh));
  EXPECT_EQ(value_b_true[0], 0.0f);
}

TEST(States, EightZerosFromAFreshSlot) {
  uint16_t s = 0;
  const int want_a[8] = {1, 2, 3, 4, 5, 6, 7, 64};
  const int want_b[8] = {2, 4, 8, 16, 32, 64, 192, 193};
  for (int i = 0; i < 8; i++) {
    s = slot_update(s, 0);
    uint16_t v = slot_to_true(s);
    EXPECT_EQ(v & 0xFF, want_a[i]) << i;
    EXPECT_EQ(v >> 8, want_b[i]) << i;
    EXPECT_TRUE(slot_visited(s));
  }
}

TEST(States, RunsLeaveTheirCounters) {
  // A 1 after a run of zeros takes B from any of 192..223 to 129; a 0 after
  // a run of ones takes it from 224..255 to 190.
  for (int b = 192; b < 224; b++) {
    uint16_t s = slot_from_true(static_cast<uint16_t>(b << 8));
    EXPECT_EQ(slot_to_true(slot_update(s, 1)) >> 8, 129) << b;
  }
  for (int b = 224; b < 256; b++) {
    uint16_t s = slot_from_true(static_cast<uint16_t>(b << 8));
    EXPECT_EQ(slot_to_true(slot_update(s, 0)) >> 8, 190) << b;
  }
  // Machine A leaves its grid of counts at seven ones: 56 -> 96.
  EXPECT_EQ(next_a[56][1], 96);
  EXPECT_EQ(next_a[63][0], 188);
  EXPECT_EQ(next_a[255][1], 255);
}

}  // namespace
}  // namespace vesk
