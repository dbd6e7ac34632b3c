// The default models over their streams, run the way the containers run
// them: round trips, the same coded bits whatever the table's
// representation, and the ratios they must reach. Their coded bits are
// pinned by the archives of tests/cli/frozen_test.cc; damaged streams are
// decoded by the sweeps of tests/driver/damage_test.cc.
#include <gtest/gtest.h>

#include <random>

#include "mixed/mixed.h"
#include "models/model.h"
#include "support/model_support.h"
#include "text/text.h"

namespace vesk::test {
namespace {

const bytes flush = {0xFF, 0x7F, 0xFF, 0xFF};

bytes exe(size_t n) { return read_bytes("/proc/self/exe", n); }

// Big-endian 32-bit values: a few repeated, some near each other.
bytes displacements(size_t count) {
  bytes b;
  for (size_t i = 0; i < count; i++) {
    const uint32_t d = i % 5 == 0 ? 0xFFFFFF80u - static_cast<uint32_t>(i % 64)
                                  : 0x00012345u + static_cast<uint32_t>(i * 37 % 4096);
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
    b.push_back(static_cast<uint8_t>((i / 3 % 600) / 3 + 20 * (i % 3) + (s >> 61)));
  }
  return b;
}

// Word-code slots of every tier, and a text's.
std::vector<bytes> slot_streams() {
  std::mt19937 g(8);
  std::vector<uint32_t> tiers, small;
  for (int i = 0; i < 30000; i++) {
    const auto r = static_cast<uint32_t>(g() % 100), v = static_cast<uint32_t>(g());
    tiers.push_back(r < 60 ? v % 128 : r < 90 ? 128 + v % 16384 : 16512 + v % 500000);
    small.push_back(v % 4);
  }
  return {slots_of({0}), slots_of({127}), slots_of({128}), slots_of({16512}),
          slots_of({code_limit - 1, 0, 200}), slots_of(tiers), slots_of(small),
          slots_of(std::vector<uint32_t>(20000, 0)), codes_of(text_sample(300000, 1))};
}

const std::pair<const char*, model_call> byte_models[] = {
    {"byte", byte_model}, {"x86", x86_model}, {"block", block_model}};

TEST(Models, RoundTripVariedStreams) {
  for (const model_call& m : {model_call(byte_model), model_call(wordcode_model),
                              model_call(x86_model), model_call(block_model), model_call(disp_model)}) {
    EXPECT_EQ(model_encode(m, {}), flush);  // an empty stream codes only the flush
    EXPECT_EQ(model_round_trip(m, {}), 4u);
  }
  const std::vector<bytes> streams = {{0x00}, {0xFF}, every_byte(), bytes(1 << 19, 0),
                                      random_bytes(30000, 7), text_sample(80000, 9), exe(100000),
                                      bytes(5000, 'x'), pixels(50000)};
  for (const auto& [name, model] : byte_models) {
    SCOPED_TRACE(name);
    for (const bytes& s : streams) model_round_trip(model, s);
  }
  for (const bytes& s : slot_streams()) model_round_trip(wordcode_model, s);
  for (const bytes& s : {displacements(1), displacements(20000), random_bytes(4000, 5)})
    model_round_trip(disp_model, s);
}

// A map sized from the stream, a small index that doubles often and one big
// index that never grows code the same bits; the small index and (for the
// byte model) the direct table decode them. (A direct table costs seconds
// of page faults over its 2 GiB: one decode takes it.)
TEST(Models, EveryTableRepresentationCodesTheSame) {
  const std::tuple<const char*, model_call, bytes, bool> cases[] = {  // ..., name, model, stream, direct
      {"byte text", byte_model, text_sample(10000, 3), true},
      {"byte prose", byte_model, text_sample(30000, 5), false},
      {"byte exe", byte_model, exe(20000), false},
      {"byte noise", byte_model, random_bytes(10000, 4), false},
      {"words", wordcode_model, codes_of(text_sample(60000, 6)), false},
      {"x86", x86_model, exe(30000), false},
      {"block", block_model, pixels(30000), false},
      {"disp", disp_model, displacements(8000), false},
  };
  for (const auto& [name, call, stream, direct] : cases) {
    SCOPED_TRACE(name);
    const bytes automatic = model_encode(call, stream);
    EXPECT_EQ(model_encode(call, stream, {1024}), automatic);
    EXPECT_EQ(model_encode(call, stream, {1 << 22}), automatic);
    EXPECT_EQ(model_decode(call, automatic, stream.size(), nullptr, {1024}), stream);
    if (direct) {
      EXPECT_EQ(model_decode(call, automatic, stream.size(), nullptr, {0, true}), stream);
    }
  }
}

// 12-byte records (a counter and fixed fields) and the record model's side
// streams, as the parser makes them.
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

bytes records(int n) {
  bytes rec;
  for (int i = 0; i < n; i++)
    rec.push_back(static_cast<uint8_t>(i % 12 < 4 ? i / 12 >> (8 * (i % 12)) : i % 12 * 11));
  return rec;
}

TEST(Models, CompressWhatTheyShouldRecordsIncluded) {
  record_case c(records(60000));
  ASSERT_GT(c.data.size(), 50000u);
  EXPECT_LT(model_round_trip(c.model(), c.data), c.data.size() / 20);
  // Without mismatches nothing is coded: decoding copies from one period
  // back, from the zeros before the stream.
  record_case z(bytes(3000, 0));
  std::fill(z.mismatch.begin(), z.mismatch.end(), 0);
  EXPECT_EQ(model_encode(z.model(), z.data), flush);
  EXPECT_EQ(model_decode(z.model(), flush, z.data.size()), z.data);
  // Zeros cost about one flag bit each; text well under 3 bits per byte;
  // random data barely grows.
  EXPECT_LT(model_round_trip(byte_model, bytes(1 << 20, 0)), 2000u);
  EXPECT_LT(model_round_trip(byte_model, text_sample(100000, 9)), 100000u * 3 / 8);
  EXPECT_LT(model_round_trip(byte_model, random_bytes(50000, 7)), 50000u * 101 / 100);
  // Only a slot's code bytes are coded: 1000 one-byte codes code 1001
  // bytes, not 4000.
  EXPECT_LE(model_encode(wordcode_model, slots_of({0})).size(), 8u);
  EXPECT_LT(model_encode(wordcode_model, slots_of(std::vector<uint32_t>(1000, 0))).size(), 200u);
  // The two presets differ (order 7 and a wider sparse context in the block model).
  const bytes e = exe(50000);
  EXPECT_NE(model_encode(x86_model, e), model_encode(block_model, e));
  EXPECT_LT(model_encode(x86_model, e).size(), e.size() / 2);
  EXPECT_LT(model_round_trip(disp_model, displacements(20000)), 80000u / 2);
  // A run of equal values costs little more than a flag per byte.
  bytes same;
  for (int i = 0; i < 5000; i++) same.insert(same.end(), {0x00, 0x01, 0x02, 0x03});
  EXPECT_LT(model_round_trip(disp_model, same), 20000u / 8);
}

}  // namespace
}  // namespace vesk::test
