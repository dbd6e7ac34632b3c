// The coding building blocks: the arithmetic coder, mixer arithmetic, way
// selection, byte predictor, the decoder's likely high nibble, the logistic
// functions, the bit history states and the hashes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "support/support.h"
#include "coding/arithmetic.h"
#include "coding/byte_predictor.h"
#include "coding/hashes.h"
#include "coding/logistic.h"
#include "coding/mixer.h"
#include "coding/nibble_coder.h"
#include "coding/nibble_table.h"
#include "coding/states.h"
#include "models/model_common.h"
#include "util/arena.h"

namespace vesk {
namespace {

// The fixed summation order: eight lanes, each summing its products in
// order of the index, then the lanes pairwise (every operation rounds to a
// float: the build contracts nothing into an FMA).
float reference_dot(const float* x, const float* w, int n) {
  float s[8];
  for (int j = 0; j < 8; j++) {
    s[j] = x[j] * w[j] + x[8 + j] * w[8 + j];
    for (int k = 16; k < n; k += 8) s[j] = s[j] + x[k + j] * w[k + j];
  }
  return ((s[0] + s[4]) + (s[2] + s[6])) + ((s[1] + s[5]) + (s[3] + s[7]));
}

TEST(Mixer, DotProductInTheFixedOrderFreshWeightsAndTheLookupRange) {
  std::mt19937 g(11);
  std::uniform_real_distribution<float> in(-12.0f, 12.0f), wt(-3.0f, 3.0f);
  for (int trial = 0; trial < 20000; trial++) {
    float x[32], w[32];
    for (int i = 0; i < 32; i++) x[i] = in(g), w[i] = wt(g);
    ASSERT_EQ(mix_dot<16>(x, w), reference_dot(x, w, 16));
    ASSERT_EQ(mix_dot<24>(x, w), reference_dot(x, w, 24));
    ASSERT_EQ(mix_dot<32>(x, w), reference_dot(x, w, 32));
  }
  // Fresh weights average fresh inputs; x = 130 gives t = 1950 (valid), x = 131
  // gives 1965.
  float x[16], w[16];
  for (int i = 0; i < 16; i++) x[i] = -0.490219f, w[i] = 0.0625f;
  EXPECT_EQ(mix_dot<16>(x, w), -0.490219f);
  EXPECT_EQ(squash_index(-0.490219f), -7);
  EXPECT_EQ(squash_index(130.0f), 1950);
  EXPECT_EQ(squash_index(131.0f), 1965);
  EXPECT_TRUE(mix_t_valid(1950));
  EXPECT_FALSE(mix_t_valid(1965));
  EXPECT_TRUE(mix_t_valid(-1948));
  EXPECT_FALSE(mix_t_valid(-1949));
  EXPECT_FALSE(mix_t_valid(1952));
  EXPECT_TRUE(mix_t_valid(1952, 1952));
  // A valid dot product keeps the weights and itself; a diverged one resets
  // the weights and becomes 0, the table's middle entry.
  static squash_table sq;
  build_squash_table(sq);
  for (int i = 0; i < 16; i++) w[i] = 3.0f;
  float dot = 130.0f;
  EXPECT_EQ(mix_squash(dot, sq, w, 16, 0.0625f), sq.v[1950 + squash_table_zero]);
  EXPECT_EQ(dot, 130.0f);
  EXPECT_EQ(w[15], 3.0f);
  dot = 131.0f;
  EXPECT_EQ(mix_squash(dot, sq, w, 16, 0.0625f), sq.v[squash_table_zero]);
  EXPECT_EQ(dot, 0.0f);
  EXPECT_EQ(w[0], 0.0625f);
  EXPECT_EQ(w[15], 0.0625f);
}

TEST(NibbleTable, WaySelectionAndCrowdedHomesStayDistinct) {
  uint16_t b[bucket_words] = {};
  // The first context claims way 0 with its tag.
  EXPECT_EQ(select_way(b, 0x1234), b);
  EXPECT_EQ(b[0], 0x1234);
  EXPECT_EQ(select_way(b, 0x1234), b);
  // Any other tag shares way 1, whose tag reads 1 after the first use.
  EXPECT_EQ(select_way(b, 0x5678), b + way_words);
  EXPECT_EQ(b[way_words], 1);
  EXPECT_EQ(select_way(b, 0x9ABC), b + way_words);
  // A tag of 0 selects way 0 of an empty bucket without marking it.
  uint16_t e[bucket_words] = {};
  EXPECT_EQ(select_way(e, 0), e);
  EXPECT_EQ(e[0], 0);
  EXPECT_EQ(select_way(e, 0x4444), e);
  EXPECT_EQ(e[0], 0x4444);
  // Hashes that share their top bits crowd one stretch of the index; lookups
  // still find each bucket, and growth keeps them apart. With all top bits
  // set the stretch is the index's end, so the probing wraps around to its
  // front, and every doubling must bring those entries back.
  for (const uint64_t top : {uint64_t{0xABC}, uint64_t{0xFFF}}) {
    SCOPED_TRACE(top);
    std::vector<uint64_t> hashes;
    for (uint64_t i = 0; i < 5000; i++) hashes.push_back((top << 52) | (i << 37) | i);
    table_storage s = table_open(table_8g, hashes.size(), {1024});
    for (uint64_t h : hashes) {
      if (!s.map.has_room(1)) table_grow(s, 1);
      select(s.map, h)[1] = static_cast<uint16_t>(h);
      ASSERT_EQ(select(s.map, hashes.front())[1], static_cast<uint16_t>(hashes.front()));
    }
    EXPECT_EQ(s.map.used, hashes.size());
    for (uint64_t h : hashes) ASSERT_EQ(select(s.map, h)[1], static_cast<uint16_t>(h));
    table_close(s);
  }
}

// A table whose index starts small and doubles many times, over memory
// that an earlier block left dirty: every bucket starts as zeros, keeps its
// dense slot as the index doubles and the block grows (and may move), the
// pages asked for ahead stay a small step beyond what the call uses, and
// the stream's buckets are bounded by its selections.
TEST(NibbleTable, GrowsOverDirtyMemoryWithoutLosingBuckets) {
  constexpr uint64_t count = 600'000;
  {
    uint8_t* dirt = arena_alloc(int64_t{200} << 20);
    std::memset(dirt, 0xA5, size_t{200} << 20);
    arena_free(dirt);
  }
  table_stats stats;
  table_storage s = table_open(table_2g, count, {1024, false, &stats});
  ASSERT_TRUE(s.compact);
  ASSERT_GT(s.dirty, 0u);
  std::mt19937_64 g(11);
  std::vector<uint64_t> hashes(count);
  for (auto& h : hashes) h = g();
  std::vector<ptrdiff_t> at;
  for (uint64_t h : hashes) {
    if (!s.map.has_room(1)) {
      table_grow(s, 1);
      ASSERT_LE(s.ahead, s.bound);
      // Within an eighth of the slots in use plus 8 MiB.
      ASSERT_LE(s.ahead, s.map.used + s.map.used / 8 + (uint64_t{1} << 17));
    }
    const uint64_t fresh = s.map.used;
    uint16_t* b = s.map.bucket(h);
    if (s.map.used > fresh) {
      for (int w = 0; w < bucket_words; w++) ASSERT_EQ(b[w], 0) << "slot " << fresh;
    }
    at.push_back(b - s.map.buckets);
    b[3] = static_cast<uint16_t>(h >> 48);  // the same in every hash of a bucket
  }
  EXPECT_GT(s.ahead, s.map.used);  // pages were asked for ahead
  for (uint64_t i = 0; i < count; i++) {
    ASSERT_EQ(s.map.bucket(hashes[i]) - s.map.buckets, at[i]);
    ASSERT_EQ(s.map.buckets[at[i] + 3], static_cast<uint16_t>(hashes[i] >> 48));
  }
  // 600,000 random hashes over 2^25 buckets: some thousands land twice.
  EXPECT_GT(s.map.used, 590'000u);
  const uint64_t used = s.map.used;
  table_close(s);
  // The index doubled from 1024 entries and stays at most 3/4 full.
  EXPECT_EQ(stats.buckets, used);
  EXPECT_EQ(stats.index_entries, uint64_t{1} << 20);
  EXPECT_EQ(stats.bytes_touched, 8 * stats.index_entries + 64 * used);
}

// The decoder's likely high nibble starts with the byte predictor's guess,
// follows the pixel three bytes back through a run of RGB-like bytes, and
// returns to the guess once only the guess is right.
TEST(LikelyNibble, FollowsTheCandidateRightLatelyAndKeepsHighAndLowBytesApart) {
  std::mt19937 g(5);
  constexpr uint8_t rgb_high[3] = {0x10, 0x50, 0x90};
  std::vector<uint8_t> buf(4, 0xEE);
  likely_nibble likely;
  EXPECT_EQ(likely.pick(buf.data(), 4, 0xC3), 0xC);
  EXPECT_FALSE(likely.sure(4));
  buf.resize(600);
  // High nibbles repeat every three bytes; the guess is always wrong.
  for (int64_t i = 4; i < 300; i++) {
    buf[i] = static_cast<uint8_t>(rgb_high[i % 3] | (g() & 15));
    if (i >= 100) {
      ASSERT_EQ(likely.pick(buf.data(), i, 0xF0), rgb_high[i % 3] >> 4) << i;
      ASSERT_TRUE(likely.sure(i)) << i;
    }
    likely.learn(buf.data(), i, 0xF0);
  }
  // Random bytes that the guess always gets right.
  for (int64_t i = 300; i < 600; i++) {
    buf[i] = static_cast<uint8_t>(g());
    if (i >= 400) {
      ASSERT_EQ(likely.pick(buf.data(), i, buf[i]), buf[i] >> 4) << i;
    }
    likely.learn(buf.data(), i, buf[i]);
  }
  // 16-bit little-endian samples of a slow wave: the high byte follows the
  // sample before and is soon sure; the noisy low byte never is.
  g.seed(8);
  buf.assign(4, 0);
  likely = likely_nibble{};
  int sure_high = 0, sure_low = 0;
  for (int64_t i = 4; i < 4000; i++) {
    const int sample = static_cast<int>(12000 * std::sin(static_cast<double>(i / 2) / 300)) +
                       static_cast<int>(g() % 512);
    buf.push_back(static_cast<uint8_t>(i % 2 == 0 ? sample & 0xFF : (sample >> 8) & 0xFF));
    if (i >= 1000) (i % 2 == 1 ? sure_high : sure_low) += likely.sure(i);
    likely.learn(buf.data(), i, static_cast<uint8_t>(g()));
  }
  EXPECT_GT(sure_high, 1400);  // of 1500
  EXPECT_EQ(sure_low, 0);
}

// From the start of a stream, repeating bytes become confident guesses.
TEST(BytePredictor, CountsGrowAndSaturate) {
  std::vector<uint8_t> data(8 + 600, 'a');  // 8 zero history bytes, then the stream
  std::fill_n(data.begin(), 8, 0);
  byte_predictor bp;
  bp_init(bp, data.data() + 8, 3, bp_preset_bytes);
  bp_predict(bp, 0);
  EXPECT_EQ(bp.guess, 0);
  EXPECT_EQ(bp.best, 0);
  EXPECT_EQ(bp.agreement, 7);
  EXPECT_EQ(bp.x, 0.0f);
  EXPECT_EQ(bp.p, 0.50449193f);
  int coded_flags = 0;
  for (int i = 0; i < 600; i++) {
    bp_predict(bp, i);
    bp.flag_coded = static_cast<double>(bp.p) > 0.7;
    coded_flags += bp.flag_coded;
    bp_update(bp, i);
  }
  EXPECT_EQ(bp.guess, 'a');
  EXPECT_GT(bp.p, 0.9f);
  EXPECT_GT(coded_flags, 500);
  // The order-8 slot of an all-'a' context has counted to 255 and stays.
  uint64_t slot = bp.slots[2 * bp_slots_per_order + (bp.hashes[2] & 0xFFF)];
  uint32_t half = (static_cast<uint32_t>(slot) >> 16) == (bp.hashes[2] >> 16)
                      ? static_cast<uint32_t>(slot)
                      : static_cast<uint32_t>(slot >> 32);
  EXPECT_EQ(half & 0xFF, 255u);
  EXPECT_EQ((half >> 8) & 0xFF, 'a');
  bp_free(bp);
}

TEST(Logistic, SquashAndItsTableAndStretchAFastLog2OfTheOdds) {
  const float cases[][2] = {{0.0f, 0.50449193f},    {1.0f, 0.67064756f},
                            {-15.0f, 3.1069918e-05f}, {15.0f, 0.99997008f},
                            {-15.5f, 3.0302112e-05f}, {15.5f, 0.99996972f}};
  for (const auto& c : cases) EXPECT_EQ(squash(c[0]), c[1]) << c[0];
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
  EXPECT_NEAR(stretch(0.5f), 0.057304f, 1e-6);  // the fast log2 of 1
  for (float p : {0.1f, 0.3f, 0.7f, 0.9f, 0.99f})
    EXPECT_NEAR(stretch(p), std::log2(p / (1 - p)), 0.09);
}

// A fresh slot is stored as zero (the slot 0x0100); eight zeros from it.
TEST(States, EightZerosFromAFreshSlotAndRunsThatLeaveTheirCounters) {
  uint16_t s = 0;
  EXPECT_EQ(slot_to_true(s), 0x0100);
  EXPECT_EQ(value_a[0], -0.490219f);
  EXPECT_EQ(value_b[0], -0.490219f);
  EXPECT_FALSE(slot_visited(s));
  EXPECT_EQ(value_b_true[0], 0.0f);
  const int want_a[8] = {1, 2, 3, 4, 5, 6, 7, 64};
  const int want_b[8] = {2, 4, 8, 16, 32, 64, 192, 193};
  for (int i = 0; i < 8; i++) {
    s = slot_update(s, 0);
    EXPECT_EQ(slot_to_true(s) & 0xFF, want_a[i]) << i;
    EXPECT_EQ(slot_to_true(s) >> 8, want_b[i]) << i;
    EXPECT_TRUE(slot_visited(s));
  }
  // A 1 after a run of zeros takes B from any of 192..223 to 129; a 0 after
  // a run of ones takes it from 224..255 to 190.
  for (int b = 192; b < 256; b++) {
    const uint16_t run = slot_from_true(static_cast<uint16_t>(b << 8));
    EXPECT_EQ(slot_to_true(slot_update(run, b < 224 ? 1 : 0)) >> 8, b < 224 ? 129 : 190) << b;
  }
  // Machine A leaves its grid of counts at seven ones: 56 -> 96.
  EXPECT_EQ(next_a[56][1], 96);
  EXPECT_EQ(next_a[63][0], 188);
  EXPECT_EQ(next_a[255][1], 255);
}

TEST(Hashes, GoldenValuesAndEveryWordBitCounts) {
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
  // The word mix is a bijection: no two contexts that differ in one bit
  // share a hash, whichever multiplier.
  for (const uint64_t m : {key_m1, key_m2, key_m3}) {
    const uint64_t w = 0x0123456789abcdef, h = key_word(w, m);
    for (int bit = 0; bit < 64; bit++) EXPECT_NE(key_word(w ^ (uint64_t{1} << bit), m), h) << bit;
  }
}

using buffer = std::vector<uint8_t>;

TEST(Coder, ProbabilityConversion) {
  EXPECT_EQ(prob12(0.9999f), 4095u);
  EXPECT_EQ(prob12(0.00001f), 1u);  // 0 becomes 1
  EXPECT_EQ(prob12(1.0f), 4095u);   // 4096 becomes 4095
  EXPECT_EQ(prob12(0.5f), 2048u);
  EXPECT_EQ(prob12(0.000244140625f), 1u);
  for (float p : {1.5f, -0.5f})
    EXPECT_STOPS(prob12(p), "c>0 && c<4096");
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

TEST(Coder, RangeCollapsedToAdjacentValuesAndNeitherDirectionPastItsBuffer) {
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
  // Past the end the decoder feeds zeros and counts them, the encoder writes
  // nothing and counts.
  buf = {0xFF, 0x7F, 0xFF, 0xFF, 0xEE, 0xEE};
  coder d;
  coder_init_decode(d, buf.data(), 4);
  for (int i = 0; i < 100; i++) code_bit<false>(d, 0, 2048);  // a word every 16 bits
  EXPECT_GT(d.overrun, 0u);
  EXPECT_EQ(coder_length(d), 4u);
  // An odd length: the last byte is no whole word and is never read.
  coder_init_decode(d, buf.data(), 3);
  EXPECT_EQ(coder_length(d), 2u);
  EXPECT_EQ(d.overrun, 1u);
  coder_init_encode(k, buf.data(), 4);
  for (int i = 0; i < 100; i++) code_bit<true>(k, 0, 4095);
  coder_flush(k);
  EXPECT_GT(k.overrun, 0u);
  EXPECT_EQ(buf[4], 0xEE);
  EXPECT_EQ(buf[5], 0xEE);
}

}  // namespace
}  // namespace vesk
