#include "text/stat.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>

namespace vesk {
namespace {

// Natural logarithms correctly rounded (reference values from 113-bit
// arithmetic). At 9170 and the larger ones the C library's FMA version is
// an ulp off: the values must not depend on which version a CPU gets.
TEST(Stat, LogarithmIsCorrectlyRounded) {
  const struct {
    int32_t a;
    double ln;
  } cases[] = {
      {1, 0.0},
      {2, 0x1.62e42fefa39efp-1},
      {3, 0x1.193ea7aad030bp+0},
      {10, 0x1.26bb1bbb55516p+1},
      {9170, 0x1.23f54a1c504c1p+3},
      {99999, 0x1.7069cdb16e3d9p+3},
      {330034, 0x1.969f579dcbce6p+3},
      {699095, 0x1.aea42ef418598p+3},
      {1070557, 0x1.bc472f7a848aap+3},
      {1147879, 0x1.be82782f86e33p+3},
      {1000000007, 0x1.4b927f34a104dp+4},
      {2147483647, 0x1.57cd0e700682p+4},
  };
  for (const auto& c : cases) EXPECT_EQ(log_int(c.a), c.ln) << c.a;
  // Powers of two: k ln 2 rounded once.
  for (int k = 1; k < 31; k++)
    EXPECT_EQ(log_int(int32_t{1} << k), static_cast<double>(static_cast<long double>(k) *
                                                            0.693147180559945309417232121458L))
        << k;
}

TEST(Stat, LogarithmIsWithinAnUlpOfTheLibrarys) {
  for (int32_t a = 1; a < 300000; a++) {
    const double ours = log_int(a), libm = std::log(a);
    ASSERT_LE(std::fabs(ours - libm), std::nextafter(libm, 1e9) - libm) << a;
  }
}

// The table is the one today's archives were made with (sums of the C
// library's logarithms on the machine that pinned them); beyond it the
// formula takes over.
TEST(Stat, FactorialLogarithms) {
  EXPECT_EQ(log2_fact(0), 0.0);
  EXPECT_EQ(log2_fact(1), 0.0);
  EXPECT_NEAR(log2_fact(10), std::log2(3628800.0), 1e-9);
  EXPECT_EQ(log2_fact(9170), 0x1.a3d868642f9b5p+16);
  EXPECT_EQ(log2_fact(9171), 0x1.a3e5921599001p+16);
  EXPECT_EQ(log2_fact(99999), 0x1.7248f9074e757p+20);
  EXPECT_EQ(log2_fact(100000), 0x1.724a02c863932p+20);
  EXPECT_NEAR(log2_fact(1000000), std::lgamma(1000001.0) / std::log(2.0), 1e-3);
}

TEST(Stat, NegativeArgumentStops) {
  EXPECT_EXIT((dup2(2, 1), log2_fact(-1)), testing::ExitedWithCode(1),
              "assertion \"a>=0\" failed: .*stat.cc:");
}

}  // namespace
}  // namespace vesk
