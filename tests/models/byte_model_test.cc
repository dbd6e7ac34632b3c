#include <gtest/gtest.h>

#include "coding/nibble_table.h"
#include "coding/predictor_rows_first.h"
#include "models/model.h"
#include "support/model_support.h"

namespace vesk::test {
namespace {

class ByteModel : public testing::Test {
 protected:
  void SetUp() override { init_runtime(); }
};

bytes machine_binary(size_t n) {
  bytes b = read_bytes("/proc/self/exe");
  if (b.size() > n) b.resize(n);
  return b;
}

TEST_F(ByteModel, EmptyStreamCodesOnlyTheFlush) {
  EXPECT_EQ(model_encode(byte_model, {}), (bytes{0xFF, 0x7F, 0xFF, 0xFF}));
  EXPECT_EQ(model_round_trip(byte_model, {}), 4u);
}

TEST_F(ByteModel, RoundTripsVariedStreams) {
  const bytes all = every_byte();
  const std::vector<bytes> streams = {
      {0x00},
      {0xFF},
      all,
      bytes(1 << 20, 0),
      random_bytes(100000, 7),
      text_sample(200000, 9),
      machine_binary(300000),
      bytes(5000, 'x'),
  };
  for (const bytes& s : streams) model_round_trip(byte_model, s);
}

TEST_F(ByteModel, CompressesWhatItShould) {
  // Zeros cost about one flag bit each; text well under 3 bits per byte;
  // random data barely grows.
  EXPECT_LT(model_round_trip(byte_model, bytes(1 << 20, 0)), 2000u);
  EXPECT_LT(model_round_trip(byte_model, text_sample(200000, 9)), 200000u * 3 / 8);
  EXPECT_LT(model_round_trip(byte_model, random_bytes(100000, 7)), 100000u * 101 / 100);
}

TEST_F(ByteModel, EveryTableRepresentationCodesTheSame) {
  const std::vector<bytes> streams = {text_sample(60000, 3), machine_binary(60000),
                                      random_bytes(20000, 4)};
  for (const bytes& s : streams) {
    bytes automatic = model_encode(byte_model, s);  // a map sized from the stream
    bytes direct = model_encode(byte_model, s, {0, true});
    bytes grown = model_encode(byte_model, s, {1024});       // a small index that doubles often
    bytes big_map = model_encode(byte_model, s, {1 << 22});  // one big index, never grows
    EXPECT_EQ(automatic, direct);
    EXPECT_EQ(automatic, grown);
    EXPECT_EQ(automatic, big_map);
    // Decoding through another representation restores the stream too.
    EXPECT_EQ(model_decode(byte_model, automatic, s.size(), nullptr, {1024}), s);
    EXPECT_EQ(model_decode(byte_model, automatic, s.size(), nullptr, {0, true}), s);
  }
}

TEST_F(ByteModel, CodingTwiceGivesTheSameBytes) {
  bytes s = text_sample(30000, 5);
  EXPECT_EQ(model_encode(byte_model, s), model_encode(byte_model, s));
}

TEST_F(ByteModel, GoldenCodedStream) {
  // Pins the format: the state tables, the predictor rows, the hashes and
  // every float operation of the model, with the current rows and with the
  // first ones (which older archives decode with). A change here breaks
  // archives.
  bytes s = text_sample(50000, 2024);
  bytes coded = model_encode(byte_model, s);
  EXPECT_EQ(coded.size(), 11902u);
  EXPECT_EQ(checksum(coded), 3130378299u);
  bytes first = model_encode(byte_model, s, {{}, predictor_rows_first});
  EXPECT_EQ(first.size(), 12124u);
  EXPECT_EQ(checksum(first), 93274595u);
}

TEST_F(ByteModel, CorruptStreamDecodesWithinBounds) {
  bytes s = text_sample(20000, 6);
  bytes coded = model_encode(byte_model, s);
  coded[coded.size() / 2] ^= 0x55;
  bytes back = model_decode(byte_model, coded, s.size());
  EXPECT_EQ(back.size(), s.size());
  EXPECT_NE(back, s);
  bytes truncated(coded.begin(), coded.begin() + static_cast<long>(coded.size() / 3));
  bool exact = true;
  model_decode(byte_model, truncated, s.size(), &exact);
  EXPECT_FALSE(exact);
}

}  // namespace
}  // namespace vesk::test
