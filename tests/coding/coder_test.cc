#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <vector>

#include "coding/arithmetic.h"

namespace vesk {
namespace {

using buffer = std::vector<uint8_t>;

TEST(Coder, FlushOfAnEmptyStream) {
  buffer buf(16);
  coder k;
  coder_init_encode(k, buf.data(), buf.size());
  coder_flush(k);
  ASSERT_EQ(coder_length(k), 4u);
  EXPECT_EQ(buffer(buf.begin(), buf.begin() + 4), (buffer{0xFF, 0x7F, 0xFF, 0xFF}));
}

TEST(Coder, ProbabilityConversion) {
  EXPECT_EQ(prob12(0.9999f), 4095u);
  EXPECT_EQ(prob12(0.00001f), 1u);  // 0 becomes 1
  EXPECT_EQ(prob12(1.0f), 4095u);   // 4096 becomes 4095
  EXPECT_EQ(prob12(0.5f), 2048u);
  EXPECT_EQ(prob12(0.000244140625f), 1u);
  for (float p : {1.5f, -0.5f})
    EXPECT_EXIT((dup2(2, 1), prob12(p)), testing::ExitedWithCode(1), "c>0 && c<4096");
}

// Bits with their probabilities decode back, and the decoder consumes
// exactly the encoded words.
TEST(Coder, RandomBitsRoundTrip) {
  std::mt19937 g(5);
  for (int trial = 0; trial < 20; trial++) {
    const size_t n = g() % 5000;
    std::vector<int> bits(n);
    std::vector<uint32_t> probs(n);
    for (size_t i = 0; i < n; i++) {
      probs[i] = static_cast<uint32_t>(1 + g() % 4095);
      // Mostly bits that agree with their probability, some that do not.
      bits[i] = (g() % 4096 < probs[i]) ^ (g() % 10 == 0);
    }
    buffer buf(2 * n + 16);
    coder k;
    coder_init_encode(k, buf.data(), buf.size());
    for (size_t i = 0; i < n; i++) code_bit<true>(k, bits[i], probs[i]);
    coder_flush(k);
    ASSERT_EQ(k.overrun, 0u);
    const size_t len = coder_length(k);
    EXPECT_EQ(len % 2, 0u);
    EXPECT_LE(len, 2 * n + 4);  // at most one word per bit
    coder d;
    coder_init_decode(d, buf.data(), len);
    for (size_t i = 0; i < n; i++) ASSERT_EQ(code_bit<false>(d, 0, probs[i]), bits[i]) << i;
    EXPECT_EQ(coder_length(d), len);
    EXPECT_EQ(d.overrun, 0u);
  }
}

TEST(Coder, RangeCollapsedToAdjacentValues) {
  // Two adjacent values: a 1 with c = 2048 collapses the range to x1 alone.
  // After the one shift the top halves still agree; no second word moves.
  coder k;
  buffer buf(64);
  coder_init_encode(k, buf.data(), buf.size());
  k.x1 = 0xAAAABBBB;
  k.x2 = 0xAAAABBBC;
  code_bit<true>(k, 1, 2048);
  EXPECT_EQ(coder_length(k), 2u);
  EXPECT_EQ(buf[0], 0xAA);
  EXPECT_EQ(buf[1], 0xAA);
  EXPECT_EQ(k.x1, 0xBBBB0000u);
  EXPECT_EQ(k.x2, 0xBBBBFFFFu);
  // The next bit moves the next word.
  code_bit<true>(k, 0, 2048);
  EXPECT_EQ(coder_length(k), 4u);
  EXPECT_LT(k.x1, k.x2);
}

// Past the end the decoder feeds zeros and counts them, the encoder writes
// nothing and counts.
TEST(Coder, NeitherDirectionGoesPastItsBuffer) {
  buffer buf = {0xFF, 0x7F, 0xFF, 0xFF, 0xEE, 0xEE};
  coder d;
  coder_init_decode(d, buf.data(), 4);
  for (int i = 0; i < 100; i++) code_bit<false>(d, 0, 2048);  // a word every 16 bits
  EXPECT_GT(d.overrun, 0u);
  EXPECT_EQ(coder_length(d), 4u);
  // An odd length: the last byte is no whole word and is never read.
  coder_init_decode(d, buf.data(), 3);
  EXPECT_EQ(coder_length(d), 2u);
  EXPECT_EQ(d.overrun, 1u);
  coder k;
  coder_init_encode(k, buf.data(), 4);
  for (int i = 0; i < 100; i++) code_bit<true>(k, 0, 4095);
  coder_flush(k);
  EXPECT_GT(k.overrun, 0u);
  EXPECT_EQ(buf[4], 0xEE);
  EXPECT_EQ(buf[5], 0xEE);
}

}  // namespace
}  // namespace vesk
