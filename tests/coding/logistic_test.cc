#include "coding/logistic.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vesk {
namespace {

TEST(Logistic, SquashGoldenValues) {
  const float cases[][2] = {{0.0f, 0.50449193f},    {1.0f, 0.67064756f},
                            {-15.0f, 3.1069918e-05f}, {15.0f, 0.99997008f},
                            {-15.5f, 3.0302112e-05f}, {15.5f, 0.99996972f}};
  for (const auto& c : cases) EXPECT_EQ(squash(c[0]), c[1]) << c[0];
}

TEST(Logistic, SquashTable) {
  static squash_table t;
  build_squash_table(t);
  EXPECT_EQ(t.v[2048], squash(0.0f));
  EXPECT_EQ(t.v[2048 + 15], squash(1.0f));  // steps of 1/15
  EXPECT_EQ(t.v[0], squash_low);
  EXPECT_EQ(t.v[4095], squash_high);
  // Entries beyond 225 steps from the middle are the clamp values.
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

}  // namespace
}  // namespace vesk
