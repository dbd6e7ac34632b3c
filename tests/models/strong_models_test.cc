// The strong models (-9): the match model and the final stage around the
// word-code, byte, x86 and block models.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "coding/apm.h"
#include "models/match_model.h"
#include "models/model.h"
#include "support/model_support.h"
#include "support/recipes.h"
#include "text/text.h"

namespace vesk::test {
namespace {

class StrongModels : public testing::Test {
 protected:
  void SetUp() override { init_runtime(); }
};

model_options strong_options(table_layout table = {}) {
  model_options o;
  o.table = table;
  o.strong = true;
  return o;
}

bytes exe(size_t n) {
  bytes b = read_bytes("/proc/self/exe");
  if (b.size() > n) b.resize(n);
  return b;
}

bytes repeated_text(size_t part, uint64_t seed) {
  return pin_repeated(part, 2000, seed);
}

// Long repeats with one byte in every few hundred changed in one of its
// bits, high or low: matches break at every bit position of a byte, and
// the next bits are coded without them.
bytes mutated_repeats(size_t part, uint64_t seed) {
  bytes b = repeated_text(part, seed);
  gen g{seed};
  for (size_t at = part + g.below(300); at < b.size(); at += 1 + g.below(600))
    b[at] = static_cast<uint8_t>(b[at] ^ (1u << g.below(8)));
  return b;
}

struct named_model {
  const char* name;
  model_call call;
};

const std::vector<named_model> byte_models = {
    {"byte", byte_model}, {"x86", x86_model}, {"block", block_model}};

TEST_F(StrongModels, RoundTripVariedStreams) {
  const bytes all = every_byte();
  const std::vector<bytes> streams = {
      {},
      {0x00},
      {0xFF},
      all,
      random_bytes(99, 1),
      random_bytes(100, 2),
      random_bytes(101, 3),
      bytes(200000, 0),
      random_bytes(50000, 7),
      exe(150000),
      repeated_text(60000, 5),
      mutated_repeats(40000, 10),
      pin_mixed(60000, 6, 6000),
  };
  for (const named_model& m : byte_models) {
    SCOPED_TRACE(m.name);
    for (const bytes& s : streams) model_round_trip(m.call, s, strong_options());
  }
  const std::vector<bytes> slot_streams = {
      {},
      codes_of({'v'}),
      codes_of(pin_text(80000, 500, 8)),
      codes_of(repeated_text(60000, 9)),
      codes_of(mutated_repeats(40000, 11)),
  };
  for (const bytes& s : slot_streams) model_round_trip(wordcode_model, s, strong_options());
}

// The strong models' coded bits, pinned: a change to them is a decision
// (once -9 writes archives, one that old archives forbid), not an accident.
TEST_F(StrongModels, CodedBitsArePinned) {
  auto fnv = [](const bytes& b) {
    uint64_t h = 0xcbf29ce484222325;
    for (uint8_t c : b) h = (h ^ c) * 0x100000001b3;
    return h;
  };
  const bytes data = mutated_repeats(20000, 12);
  const struct {
    const char* name;
    model_call call;
    bytes input;
    size_t size;
    uint64_t hash;
  } cases[] = {
      {"byte", byte_model, data, 6870, 0x3c221ca6df5a9e5b},
      {"x86", x86_model, data, 6370, 0xc428442c44c93655},
      {"block", block_model, data, 6438, 0xe7f6e14e4618aedb},
      {"word", wordcode_model, codes_of(data), 4958, 0x4c9dcf9e5f2a0bb6},
  };
  for (const auto& c : cases) {
    const bytes coded = model_encode(c.call, c.input, strong_options());
    EXPECT_EQ(coded.size(), c.size) << c.name;
    EXPECT_EQ(fnv(coded), c.hash) << c.name;
  }
}

// The table's growth never changes the coded bits, with the match model as
// without it.
TEST_F(StrongModels, EveryTableRepresentationCodesTheSame) {
  const bytes s = repeated_text(30000, 3);
  for (const named_model& m : byte_models) {
    SCOPED_TRACE(m.name);
    const bytes automatic = model_encode(m.call, s, strong_options());
    EXPECT_EQ(automatic, model_encode(m.call, s, strong_options({1024})));
    EXPECT_EQ(model_decode(m.call, automatic, s.size(), nullptr, strong_options({1024})), s);
  }
  const bytes c = codes_of(s);
  const bytes words = model_encode(wordcode_model, c, strong_options());
  EXPECT_EQ(words, model_encode(wordcode_model, c, strong_options({1024})));
}

// Long repeats cost less than with the default models (which already code
// much of a repeat with their long orders),
// and data without repeats costs no more than a few bytes in a thousand
// extra.
TEST_F(StrongModels, RepeatsCostLessAndNoiseNoMore) {
  const bytes r = repeated_text(100000, 4);
  for (const named_model& m : byte_models) {
    SCOPED_TRACE(m.name);
    const size_t plain = model_encode(m.call, r).size();
    const size_t strong = model_encode(m.call, r, strong_options()).size();
    EXPECT_LT(strong, plain * 19 / 20);
    const bytes noise = random_bytes(100000, 5);
    EXPECT_LT(model_encode(m.call, noise, strong_options()).size(),
              model_encode(m.call, noise).size() * 1003 / 1000);
  }
  const bytes c = codes_of(r);
  EXPECT_LT(model_encode(wordcode_model, c, strong_options()).size(),
            model_encode(wordcode_model, c).size() * 19 / 20);
}

// A damaged strong stream decodes to bounded garbage: the decoder stays
// inside its buffers and stops.
TEST_F(StrongModels, CorruptStreamsDecodeWithinBounds) {
  const bytes s = repeated_text(20000, 6);
  for (const named_model& m : byte_models) {
    SCOPED_TRACE(m.name);
    bytes coded = model_encode(m.call, s, strong_options());
    for (size_t at = 4; at < coded.size(); at += coded.size() / 7) coded[at] ^= 0x5A;
    bool exact = true;
    const bytes back = model_decode(m.call, coded, s.size(), &exact, strong_options());
    EXPECT_EQ(back.size(), s.size());
    EXPECT_FALSE(back == s && exact);
  }
}

TEST(MatchModel, LengthBuckets) {
  const std::vector<std::pair<uint32_t, int>> cases = {
      {0, 0},   {1, 1},   {7, 7},   {8, 8},   {11, 8},    {12, 9},
      {15, 9},  {16, 10}, {23, 10}, {24, 11}, {32, 12},   {48, 13},
      {64, 14}, {95, 14}, {96, 15}, {97, 15}, {1000, 15}, {match_len_cap, match_buckets - 1}};
  for (const auto& [len, bucket] : cases) EXPECT_EQ(match_bucket(len), bucket) << len;
}

// The match model finds the earlier occurrence, starts with its verified
// length and follows it; the first element that disagrees ends it.
TEST(MatchModel, FindsVerifiesAndFollowsRepeats) {
  std::vector<uint32_t> table(1 << 16, 0);
  bytes buf(64, 0);  // history
  const std::string text = "abcdefgh-abcdefgh+abcdefgXY";
  buf.insert(buf.end(), text.begin(), text.end());
  const uint8_t* s = buf.data() + 64;
  auto at = [&](int64_t r) -> uint64_t { return s[r]; };
  match_model m;
  match_init(m, table.data(), 16, 4);
  std::vector<uint32_t> lens;
  for (int64_t q = 1; q <= static_cast<int64_t>(text.size()); q++) {
    match_next(m, at, q);
    lens.push_back(m.len);
    if (m.len > 0) {
      EXPECT_EQ(s[m.ptr], s[q - 9]) << q;  // the repeats are 9 apart
    }
  }
  // The second "abcd" finds the first (the byte before them differs, so
  // the verified length is 4) and the match grows through "h"; '+' is not
  // '-' and ends it; the third "abcd" finds the second and follows it to
  // 'X', which ends it again.
  EXPECT_EQ(lens[12], 4u);
  EXPECT_EQ(lens[16], 8u);
  EXPECT_EQ(lens[17], 0u);
  EXPECT_EQ(lens[21], 4u);
  EXPECT_EQ(lens[24], 7u);
  EXPECT_EQ(lens[25], 0u);
}

TEST(Apm, StartsAsTheIdentityAndLearns) {
  std::vector<float> t(2 * apm_points);
  apm_init(t.data(), 2);
  apm_pick pk;
  for (float s : {-11.5f, -3.0f, 0.0f, 2.25f, 11.0f}) {
    const float p = apm_refine(t.data(), 1, s, pk);
    EXPECT_NEAR(p, squash(s), 0.02f) << s;
  }
  // Out of reach and NaN read the end points.
  EXPECT_NEAR(apm_refine(t.data(), 0, 40.0f, pk), squash(12.0f), 1e-3f);
  EXPECT_NEAR(apm_refine(t.data(), 0, -40.0f, pk), squash(-12.0f), 1e-3f);
  EXPECT_NEAR(apm_refine(t.data(), 0, std::numeric_limits<float>::quiet_NaN(), pk), squash(-12.0f),
              1e-3f);
  // Context 0 learns that its bits are 1; context 1 stays untouched, and no
  // entry reaches 0 or 1.
  for (int i = 0; i < 5000; i++) {
    apm_refine(t.data(), 0, 0.5f, pk);
    apm_update(pk, 1, 1.0f / 64);
  }
  EXPECT_GT(apm_refine(t.data(), 0, 0.5f, pk), 0.99f);
  EXPECT_LT(apm_refine(t.data(), 0, 0.5f, pk), 1.0f);
  EXPECT_NEAR(apm_refine(t.data(), 1, 0.5f, pk), squash(0.5f), 0.02f);
}

}  // namespace
}  // namespace vesk::test
