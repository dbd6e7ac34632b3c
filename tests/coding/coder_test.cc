#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <vector>

#include "coding/arithmetic.h"

namespace vesk {
namespace {

TEST(Coder, FlushOfAnEmptyStream) {
  uint8_t buf[16] = {};
  coder k;
  coder_init_encode(k, buf, sizeof buf);
  coder_flush(k);
  ASSERT_EQ(coder_length(k), 4u);
  EXPECT_EQ(buf[0], 0xFF);
  EXPECT_EQ(buf[1], 0x7F);
  EXPECT_EQ(buf[2], 0xFF);
  EXPECT_EQ(buf[3], 0xFF);
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

// Encodes bits with their probabilities, decodes them back, and checks that
// the decoder consumed exactly the encoded words.
void round_trip(const std::vector<int>& bits, const std::vector<uint32_t>& probs) {
  std::vector<uint8_t> buf(2 * bits.size() + 16);
  coder k;
  coder_init_encode(k, buf.data(), buf.size());
  for (size_t i = 0; i < bits.size(); i++) code_bit<true>(k, bits[i], probs[i]);
  coder_flush(k);
  ASSERT_EQ(k.overrun, 0u);
  size_t len = coder_length(k);
  EXPECT_EQ(len % 2, 0u);
  EXPECT_LE(len, 2 * bits.size() + 4);  // at most one word per bit
  coder d;
  coder_init_decode(d, buf.data(), len);
  for (size_t i = 0; i < bits.size(); i++)
    ASSERT_EQ(code_bit<false>(d, 0, probs[i]), bits[i]) << "bit " << i;
  EXPECT_EQ(coder_length(d), len);
  EXPECT_EQ(d.overrun, 0u);
}

TEST(Coder, RandomBitsRoundTrip) {
  std::mt19937 g(5);
  for (int trial = 0; trial < 20; trial++) {
    size_t n = g() % 5000;
    std::vector<int> bits(n);
    std::vector<uint32_t> probs(n);
    for (size_t i = 0; i < n; i++) {
      probs[i] = static_cast<uint32_t>(1 + g() % 4095);
      // Mostly bits that agree with their probability, some that do not.
      bits[i] = (g() % 4096 < probs[i]) ^ (g() % 10 == 0);
    }
    round_trip(bits, probs);
  }
}

TEST(Coder, RangeCollapsedToAdjacentValues) {
  // Two adjacent values: a 1 with c = 2048 collapses the range to x1 alone.
  // After the one shift the top halves still agree; no second word moves.
  coder k;
  std::vector<uint8_t> buf(64);
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

TEST(Coder, DecoderPastTheEndFeedsZerosAndCounts) {
  uint8_t buf[4] = {0xFF, 0x7F, 0xFF, 0xFF};
  coder d;
  coder_init_decode(d, buf, 4);
  for (int i = 0; i < 100; i++) code_bit<false>(d, 0, 2048);  // a word every 16 bits
  EXPECT_GT(d.overrun, 0u);
  EXPECT_EQ(coder_length(d), 4u);
  // An odd length: the last byte is no whole word and is never read.
  coder o;
  coder_init_decode(o, buf, 3);
  EXPECT_EQ(coder_length(o), 2u);
  EXPECT_EQ(o.overrun, 1u);
}

TEST(Coder, EncoderNeverWritesPastItsBuffer) {
  std::vector<uint8_t> buf(10, 0xEE);
  coder k;
  coder_init_encode(k, buf.data(), 8);
  for (int i = 0; i < 100; i++) code_bit<true>(k, 0, 4095);
  coder_flush(k);
  EXPECT_GT(k.overrun, 0u);
  EXPECT_EQ(buf[8], 0xEE);
  EXPECT_EQ(buf[9], 0xEE);
}

}  // namespace
}  // namespace vesk
