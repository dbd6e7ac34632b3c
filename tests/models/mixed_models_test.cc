// The models of the mixed method: x86, block, displacement and record.
#include <gtest/gtest.h>

#include "coding/nibble_table.h"
#include "coding/predictor_rows_first.h"
#include "mixed/mixed.h"
#include "models/model.h"
#include "support/model_support.h"

namespace vesk::test {
namespace {

class MixedModels : public testing::Test {
 protected:
  void SetUp() override { init_runtime(); }
};

bytes exe(size_t n) {
  bytes b = read_bytes("/proc/self/exe");
  if (b.size() > n) b.resize(n);
  return b;
}

// Big-endian 32-bit values: a few repeated, some near each other.
bytes displacements(size_t count) {
  bytes b;
  uint32_t v = 0x00012345;
  for (size_t i = 0; i < count; i++) {
    uint32_t d = i % 5 == 0 ? 0xFFFFFF80u - static_cast<uint32_t>(i % 64)
                            : v + static_cast<uint32_t>(i * 37 % 4096);
    for (int k = 3; k >= 0; k--) b.push_back(static_cast<uint8_t>(d >> (8 * k)));
  }
  return b;
}

// RGB pixels of slow gradients with a little noise: each byte's high nibble
// is mostly the one of the pixel before, so the decoder soon trusts that
// guess and loads its buckets early.
bytes pixels(size_t n) {
  bytes b;
  uint64_t s = 7;
  for (size_t i = 0; i < n; i++) {
    s = s * 6364136223846793005u + 1442695040888963407u;
    const size_t px = i / 3;
    b.push_back(static_cast<uint8_t>((px % 600) / 3 + 20 * (i % 3) + (s >> 61)));
  }
  return b;
}

TEST_F(MixedModels, EmptyStreamsCodeOnlyTheFlush) {
  const bytes flush = {0xFF, 0x7F, 0xFF, 0xFF};
  EXPECT_EQ(model_encode(x86_model, {}), flush);
  EXPECT_EQ(model_encode(block_model, {}), flush);
  EXPECT_EQ(model_encode(disp_model, {}), flush);
}

TEST_F(MixedModels, X86AndBlockRoundTrip) {
  const std::vector<bytes> streams = {
      {0x90},       exe(200000), bytes(100000, 0), random_bytes(30000, 2), text_sample(100000, 3),
      pixels(90000)};
  for (const bytes& s : streams) {
    model_round_trip(x86_model, s);
    model_round_trip(block_model, s);
  }
  // Decoding pixels through a small index that keeps growing.
  const bytes p = pixels(60000);
  EXPECT_EQ(model_decode(block_model, model_encode(block_model, p), p.size(), nullptr, {1024}), p);
  // The two presets differ (order 7 and a wider sparse context in the block model).
  bytes e = exe(50000);
  EXPECT_NE(model_encode(x86_model, e), model_encode(block_model, e));
  EXPECT_LT(model_encode(x86_model, e).size(), e.size() / 2);
}

TEST_F(MixedModels, DisplacementsRoundTrip) {
  model_round_trip(disp_model, displacements(1));
  size_t packed = model_round_trip(disp_model, displacements(20000));
  EXPECT_LT(packed, 80000u / 2);
  // A run of equal values costs little more than a flag per byte.
  bytes same;
  for (int i = 0; i < 5000; i++) same.insert(same.end(), {0x00, 0x01, 0x02, 0x03});
  EXPECT_LT(model_round_trip(disp_model, same), 20000u / 8);
  model_round_trip(disp_model, random_bytes(4000, 5));
}

// 12-byte records: a counter and fixed fields.
bytes records(int n) {
  bytes rec;
  for (int i = 0; i < n; i++) {
    int col = i % 12;
    rec.push_back(static_cast<uint8_t>(col < 4 ? i / 12 >> (8 * col) : col * 11));
  }
  return rec;
}

// The record model's side streams, as the parser makes them.
struct record_case {
  bytes data, mismatch, period;
  explicit record_case(const bytes& input) {
    std::vector<uint8_t> buf(input_history + input.size() + block_size + 1, 0);
    std::copy(input.begin(), input.end(), buf.begin() + input_history);
    mixed_streams s;
    mixed_parse(buf.data() + input_history, static_cast<int64_t>(input.size()), s);
    data.assign(s.buf[ms_record], s.buf[ms_record] + s.len[ms_record]);
    mismatch.assign(s.buf[ms_mismatch], s.buf[ms_mismatch] + s.len[ms_mismatch] + 8);
    period.assign(s.buf[ms_period], s.buf[ms_period] + s.len[ms_period] + 8);
    mixed_release(s);
  }
  model_call model() {
    return [this](uint8_t* b, int32_t n, coder& k, int dir, const model_options& l) {
      record_model(b, n, k, dir, mismatch.data(), period.data(), l);
    };
  }
};

TEST_F(MixedModels, RecordsRoundTrip) {
  record_case c(records(60000));
  ASSERT_GT(c.data.size(), 50000u);
  EXPECT_LT(model_round_trip(c.model(), c.data), c.data.size() / 20);
}

TEST_F(MixedModels, RecordsWithoutMismatchesCostNothing) {
  record_case c(bytes(3000, 0));
  std::fill(c.mismatch.begin(), c.mismatch.end(), 0);
  bytes coded = model_encode(c.model(), c.data);
  EXPECT_EQ(coded, (bytes{0xFF, 0x7F, 0xFF, 0xFF}));
  // Decoding copies from one period back, from the zeros before the stream.
  EXPECT_EQ(model_decode(c.model(), coded, c.data.size()), c.data);
}

TEST_F(MixedModels, GrowingMapsCodeTheSame) {
  const bytes e = exe(60000), d = displacements(8000);
  const std::pair<model_call, const bytes*> cases[] = {
      {x86_model, &e}, {block_model, &e}, {disp_model, &d}};
  for (const auto& [m, s] : cases) {
    bytes automatic = model_encode(m, *s);
    bytes grown = model_encode(m, *s, {1024});  // starts small and grows many times
    EXPECT_EQ(automatic, grown);
    EXPECT_EQ(model_decode(m, automatic, s->size()), *s);
  }
}

TEST_F(MixedModels, GoldenCodedStreams) {
  // Pins the format of each model, with the current rows and with the
  // first ones (which older archives decode with); a change here breaks
  // archives. The record model has no byte predictor.
  const bytes e = text_sample(20000, 11), disp = displacements(3000);
  record_case c(records(20000));
  bytes r = model_encode(c.model(), c.data);
  EXPECT_EQ(r.size(), 162u);
  EXPECT_EQ(checksum(r), 1149149164u);
  struct golden {
    const float (*rows)[256];
    size_t x_size, b_size, d_size;
    uint32_t x_sum, b_sum, d_sum;
  };
  for (const golden& g :
       {golden{nullptr, 5066, 5068, 1218, 2583445947u, 1275822554u, 2544763615u},
        golden{predictor_rows_first, 5146, 5146, 1234, 2062097753u, 2464870153u, 1132176898u}}) {
    SCOPED_TRACE(g.rows == nullptr ? "current rows" : "first rows");
    const model_options o{{}, g.rows};
    const bytes x = model_encode(x86_model, e, o), b = model_encode(block_model, e, o);
    const bytes d = model_encode(disp_model, disp, o);
    EXPECT_EQ(x.size(), g.x_size);
    EXPECT_EQ(checksum(x), g.x_sum);
    EXPECT_EQ(b.size(), g.b_size);
    EXPECT_EQ(checksum(b), g.b_sum);
    EXPECT_EQ(d.size(), g.d_size);
    EXPECT_EQ(checksum(d), g.d_sum);
  }
}

}  // namespace
}  // namespace vesk::test
