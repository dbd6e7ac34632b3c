#include "coding/states.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

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
    EXPECT_EQ(slot_to_true(s) & 0xFF, want_a[i]) << i;
    EXPECT_EQ(slot_to_true(s) >> 8, want_b[i]) << i;
    EXPECT_TRUE(slot_visited(s));
  }
}

TEST(States, RunsLeaveTheirCounters) {
  // A 1 after a run of zeros takes B from any of 192..223 to 129; a 0 after
  // a run of ones takes it from 224..255 to 190.
  for (int b = 192; b < 256; b++) {
    const uint16_t s = slot_from_true(static_cast<uint16_t>(b << 8));
    EXPECT_EQ(slot_to_true(slot_update(s, b < 224 ? 1 : 0)) >> 8, b < 224 ? 129 : 190) << b;
  }
  // Machine A leaves its grid of counts at seven ones: 56 -> 96.
  EXPECT_EQ(next_a[56][1], 96);
  EXPECT_EQ(next_a[63][0], 188);
  EXPECT_EQ(next_a[255][1], 255);
}

}  // namespace
}  // namespace vesk
