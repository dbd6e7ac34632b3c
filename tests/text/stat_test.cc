#include "text/stat.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>

#include "support/support.h"

namespace vesk {
namespace {

TEST(Stat, SmallValues) {
  test::init_runtime();
  EXPECT_EQ(log2_fact(0), 0.0);
  EXPECT_EQ(log2_fact(1), 0.0);
  EXPECT_NEAR(log2_fact(4), std::log2(24.0), 1e-12);
  EXPECT_NEAR(log2_fact(10), std::log2(3628800.0), 1e-9);
}

TEST(Stat, TableAndFormulaAgreeAtTheSwitchOver) {
  test::init_runtime();
  double table = log2_fact(99999);
  double formula = log2_fact(100000);
  // log2(100000!) - log2(99999!) = log2(100000)
  EXPECT_NEAR(formula - table, std::log2(100000.0), 1e-5);
  EXPECT_NEAR(log2_fact(1000000), std::lgamma(1000001.0) / std::log(2.0), 1e-3);
}

TEST(Stat, NegativeArgumentStops) {
  test::init_runtime();
  EXPECT_EXIT(
      {
        dup2(2, 1);
        log2_fact(-1);
      },
      testing::ExitedWithCode(1), "assertion \"a>=0\" failed: .*stat.cc:");
}

}  // namespace
}  // namespace vesk
