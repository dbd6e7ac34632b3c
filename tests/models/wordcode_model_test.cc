#include <gtest/gtest.h>

#include <random>

#include "coding/nibble_table.h"
#include "models/model.h"
#include "support/model_support.h"
#include "text/text.h"
#include "util/bytes.h"

namespace vesk::test {
namespace {

class WordModel : public testing::Test {
 protected:
  void SetUp() override { init_runtime(); }
};

bytes slots_of(const std::vector<uint32_t>& indices) {
  bytes b(4 * indices.size());
  for (size_t i = 0; i < indices.size(); i++) put_u32(&b[4 * i], code_slot(indices[i]));
  return b;
}

TEST_F(WordModel, EmptyStream) {
  EXPECT_EQ(model_encode(wordcode_model, {}), (bytes{0xFF, 0x7F, 0xFF, 0xFF}));
  EXPECT_EQ(model_round_trip(wordcode_model, {}), 4u);
}

TEST_F(WordModel, RoundTripsSlotStreams) {
  std::mt19937 g(8);
  std::vector<uint32_t> mixed_tiers, small;
  for (int i = 0; i < 30000; i++) {
    uint32_t r = static_cast<uint32_t>(g() % 100);
    uint32_t v = static_cast<uint32_t>(g());
    mixed_tiers.push_back(r < 60 ? v % 128 : r < 90 ? 128 + v % 16384 : 16512 + v % 500000);
    small.push_back(v % 4);
  }
  const std::vector<bytes> streams = {
      slots_of({0}),
      slots_of({127}),
      slots_of({128}),
      slots_of({16512}),
      slots_of({code_limit - 1, 0, 200}),
      slots_of(mixed_tiers),
      slots_of(small),
      slots_of(std::vector<uint32_t>(20000, 0)),
      codes_of(text_sample(300000, 1)),
  };
  for (const bytes& s : streams) model_round_trip(wordcode_model, s);
}

TEST_F(WordModel, OnlyCodeBytesAreCoded) {
  // A slot of the one-byte code 0 codes byte 0 and the byte past the end,
  // and nothing else: its zeros above the code cost no bits.
  bytes one = model_encode(wordcode_model, slots_of({0}));
  bytes many_zero_bytes = model_encode(wordcode_model, slots_of(std::vector<uint32_t>(1000, 0)));
  EXPECT_LE(one.size(), 8u);
  // 1000 one-byte codes code 1001 bytes, not 4000.
  EXPECT_LT(many_zero_bytes.size(), 200u);
}

TEST_F(WordModel, GrowingMapsCodeTheSame) {
  bytes s = codes_of(text_sample(150000, 6));
  bytes automatic = model_encode(wordcode_model, s);
  bytes grown = model_encode(wordcode_model, s, {1024});   // starts small and grows many times
  bytes map = model_encode(wordcode_model, s, {1 << 21});  // one index that never grows
  EXPECT_EQ(automatic, grown);
  EXPECT_EQ(automatic, map);
  EXPECT_EQ(model_decode(wordcode_model, automatic, s.size(), nullptr, {1024}), s);
}

TEST_F(WordModel, GoldenCodedStream) {
  bytes s = codes_of(text_sample(60000, 77));
  bytes coded = model_encode(wordcode_model, s);
  EXPECT_EQ(coded.size(), 13080u);
  EXPECT_EQ(checksum(coded), 776357355u);
}

}  // namespace
}  // namespace vesk::test
