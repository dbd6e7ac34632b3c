
#include <gtest/gtest.h>

#include <vector>

#include "coding/arithmetic.h"
#include "driver/containers.h"

namespace vesk {
namespace {

// The longest run of coded bits between two 16-bit words: each bit leaves
// at least r - ceil(r / 4096) of the range r = x2 - x1 (a 1 at probability
// 4095/4096, or a 0 at 1/4096), and a word moves at the latest when r is 0.
TEST(CodedLengths, MostBitsPerWord) {
  int64_t r = 0xFFFFFFFF, bits = 0;
  while (r > 0) {
    r -= (r + 4095) / 4096;
    bits++;
  }
  EXPECT_EQ(bits, most_bits_per_coded_word);
}

// The real coder at the extremes never codes more bits per word than that.
TEST(CodedLengths, CoderStaysWithinTheBound) {
  for (int y : {0, 1}) {
    std::vector<uint8_t> buf(1 << 16);
    coder k;
    coder_init_encode(k, buf.data(), buf.size());
    const int64_t bits = 3'000'000;
    for (int64_t i = 0; i < bits; i++) code_bit<true>(k, y, y ? 4095 : 1);
    coder_flush(k);
    ASSERT_EQ(k.overrun, 0u);
    const auto coded = static_cast<int64_t>(coder_length(k));
    EXPECT_LE(bits, most_coded_bits(coded)) << y;
    // And the decoder takes exactly those words and ends on the flush.
    coder d;
    coder_init_decode(d, buf.data(), static_cast<size_t>(coded));
    for (int64_t i = 0; i < bits; i++) ASSERT_EQ(code_bit<false>(d, 0, y ? 4095 : 1), y);
    EXPECT_TRUE(decoded_exactly(d, coded));
    d.x ^= 1;  // a different last word
    EXPECT_FALSE(decoded_exactly(d, coded));
  }
}

}  // namespace
}  // namespace vesk
