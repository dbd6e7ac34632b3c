#include "mixed/mixed.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/support.h"
#include "util/fasthash.h"

namespace vesk::test {
namespace {

// The parser's input: 100 zero bytes, the data, zeros to the end of the last
// block and one more.
struct parsed {
  bytes data;
  mixed_streams s;
  explicit parsed(const bytes& d) : data(d) {
    buf.assign(input_history + d.size() + block_size + 1, 0);
    std::copy(d.begin(), d.end(), buf.begin() + input_history);
    mixed_parse(buf.data() + input_history, static_cast<int64_t>(d.size()), s);
  }
  ~parsed() { mixed_release(s); }
  parsed(const parsed&) = delete;
  parsed& operator=(const parsed&) = delete;

  bytes types() const {
    return {s.buf[ms_blocktype], s.buf[ms_blocktype] + s.len[ms_blocktype]};
  }
  bytes restored() const {
    bytes out(static_cast<size_t>(block_size * s.len[ms_blocktype]) + 1);
    EXPECT_TRUE(mixed_inverse(out.data(), s));
    out.resize(data.size());
    return out;
  }
  std::vector<uint8_t> buf;
};

bytes block_of(uint8_t fill) { return bytes(block_size, fill); }

// b with the x86 pair 48 89 at both places: two make a block x86.
bytes with_pairs(bytes b, int at, int at2) {
  b[at] = b[at2] = 0x48;
  b[at + 1] = b[at2 + 1] = 0x89;
  return b;
}

// A block of letters with no repeats at 16 or 24 and no x86 pairs.
bytes text_block(int seed) {
  bytes b(block_size);
  for (int i = 0; i < block_size; i++) b[i] = static_cast<uint8_t>('a' + (i * 7 + seed) % 26);
  return b;
}

bytes binary_block(uint64_t seed) {
  bytes b = random_bytes(block_size, seed);
  for (auto& c : b) {
    c = static_cast<uint8_t>(c | 0x80);  // no letters, no x86 pair starts
    if (c == 0xE8 || c == 0xFF || c == 0x84 || c == 0x8B || c == 0x89 || c == 0x8D) c = 0x90;
  }
  return b;
}

// An E8 call to `target` (relative to the byte after the E8, as the
// branch transform reads it) appended to code.
void call(bytes& code, uint32_t target) {
  const uint32_t d = target - static_cast<uint32_t>(code.size()) - 1;
  code.push_back(0xE8);
  for (int b = 0; b < 4; b++) code.push_back(static_cast<uint8_t>(d >> (8 * b)));
}

bytes join(std::initializer_list<bytes> parts) {
  bytes r;
  for (const auto& p : parts) r.insert(r.end(), p.begin(), p.end());
  return r;
}

TEST(MixedParse, EmptyOneByteAndTheRecordThreshold) {
  parsed e({});
  for (int w = 0; w < mixed_stream_count; w++) EXPECT_EQ(e.s.len[w], w == ms_mismatch) << w;
  parsed one({0x41});
  EXPECT_EQ(one.types(), bytes{block_record});  // 99 zeros repeat at 16
  EXPECT_EQ(one.restored(), bytes{0x41});
  // After a text block (no repeats at 16), a block whose first k bytes equal
  // the bytes 16 back: 50 matches is not enough, 51 is.
  for (int k : {50, 51}) {
    bytes all = join({text_block(3), binary_block(9)});
    for (int i = 0; i < k; i++) all[block_size + i] = all[block_size + i - 16];
    // Keep distance 24 below the threshold and the block free of letters.
    for (int i = k; i < block_size; i++)
      if (all[block_size + i] == all[block_size + i - 16]) all[block_size + i] ^= 0x01;
    parsed p(all);
    int same16 = 0;
    for (int i = 0; i < block_size; i++) same16 += all[block_size + i] == all[block_size + i - 16];
    ASSERT_EQ(same16, k);
    EXPECT_EQ(p.types()[1] == block_record, k == 51) << k;
  }
}

TEST(MixedParse, SmoothingAndTheX86TestFirst) {
  const bytes bin = binary_block(1), bin2 = binary_block(2), bin3 = binary_block(3);
  const bytes x86 = with_pairs(binary_block(4), 10, 50);
  // 0 2 0 -> 0 0 0;  0 2 1 unchanged.
  EXPECT_EQ(parsed(join({bin, x86, bin2})).types(), (bytes{0, 0, 0}));
  EXPECT_EQ(parsed(join({bin, x86, block_of(7)})).types(), (bytes{0, 2, 1}));
  // 1 0 1 0 1 -> all records, each change seen by the next comparison.
  EXPECT_EQ(parsed(join({block_of(1), bin, block_of(2), bin2, block_of(3)})).types(), bytes(5, 1));
  // Two blocks: no smoothing.
  EXPECT_EQ(parsed(join({bin3, x86})).types(), (bytes{0, 2}));
  // The x86 test comes first: two pairs make letters x86.
  EXPECT_EQ(parsed(with_pairs(text_block(0), 20, 60)).types(), bytes{block_x86});
  // All zeros: a record block, unless two pairs say x86.
  EXPECT_EQ(parsed(with_pairs(block_of(0), 30, 70)).types(), bytes{block_x86});
}

TEST(MixedParse, PeriodsAndMismatchesUpToTheLongestPeriod) {
  // recordc 100 -> periodc 2, mismatchc 13; 200 -> 4 and 26.
  parsed a(block_of(5));
  EXPECT_EQ(a.s.len[ms_record], 100);
  EXPECT_EQ(a.s.len[ms_period], 2);
  EXPECT_EQ(a.s.len[ms_mismatch], 13);
  // Every distance counts the same (all equal bytes): period 4.
  EXPECT_EQ(a.s.buf[ms_period][1], 4);
  parsed b(join({block_of(5), block_of(6)}));
  EXPECT_EQ(b.s.len[ms_record], 200);
  EXPECT_EQ(b.s.len[ms_period], 4);
  EXPECT_EQ(b.s.len[ms_mismatch], 26);
  // Records of 12 bytes: period 12 and no mismatches after the first.
  bytes rec;
  for (int i = 0; i < 300; i++) rec.push_back(static_cast<uint8_t>(i % 12 * 17 + 1));
  parsed c(rec);
  ASSERT_EQ(c.s.len[ms_record], 300);
  EXPECT_EQ(c.s.buf[ms_period][2], 12);
  for (int64_t i = 64; i < 300; i++)
    EXPECT_EQ((c.s.buf[ms_mismatch][i >> 3] >> (i & 7)) & 1, 0) << i;
  // Records of 68 bytes, the longest period: a pattern of period 4 (so the
  // blocks repeat at 16 and 24 and count as records) with a marker in the
  // first three bytes of each record, which only 68 matches.
  bytes rec68;
  for (int i = 0; i < 700; i++)
    rec68.push_back(static_cast<uint8_t>(i % 68 < 3 ? 200 + i % 68 : i % 4 * 10 + 1));
  parsed p(rec68);
  ASSERT_EQ(p.s.len[ms_record], 700);
  for (int64_t k = 2; k < p.s.len[ms_period]; k++) EXPECT_EQ(p.s.buf[ms_period][k], 68) << k;
}

// One x86 block holding `code` at its start (two 48 89 pairs at its end
// make the block x86).
bytes x86_block(const bytes& code) {
  bytes b = with_pairs(bytes(block_size, 0x90), 90, 95);
  std::copy(code.begin(), code.end(), b.begin());
  return b;
}

TEST(BranchTransform, ExamplesConditionalAfterDisplacementAndBranchAtTheEnd) {
  const std::tuple<bytes, int64_t, int64_t> cases[] = {  // code, branchc, x86c
      {{}, 0, 100},                  // no branch: unchanged
      {{0xE8, 0, 0, 0, 0}, 1, 96},   // E8 with a zero displacement: code 0, only E8 stays
      {{0x84, 1, 2, 3, 4}, 0, 100},  // 8x at position 0 is none (the byte before counts as 0)
  };
  for (const auto& [code, branchc, x86c] : cases) {
    parsed p(x86_block(code));
    EXPECT_EQ(p.s.len[ms_branch], branchc);
    EXPECT_EQ(p.s.len[ms_x86], x86c);
    EXPECT_EQ(bytes(p.s.buf[ms_branch], p.s.buf[ms_branch] + branchc), bytes(branchc, 0));
    EXPECT_EQ(p.restored(), p.data);
  }
  // 0F 8x where the 0F is the last displacement byte of an earlier branch.
  bytes block = x86_block({0xE8, 1, 2, 3, 0x0F, 0x85, 9, 9, 9, 9});
  block[99] = 0xE8;  // E8 in the last bytes: its displacement runs past the end
  parsed p(block);
  EXPECT_EQ(p.s.len[ms_branch], 3);
  EXPECT_EQ(p.restored(), block);
}

TEST(BranchTransform, BackReferences) {
  // Ten branches apart: the second costs the single code 12.
  bytes code;
  call(code, 777777);
  for (int i = 1; i < 10; i++) call(code, 500000 + 1000 * i);
  call(code, 777777);
  // Make every 100 bytes an x86 block: 55 bytes of code fit with pairs after.
  bytes data(200, 0x90);
  std::copy(code.begin(), code.end(), data.begin());
  data = with_pairs(with_pairs(data, 90, 95), 190, 195);
  parsed p(data);
  ASSERT_EQ(p.types(), (bytes{2, 2}));
  ASSERT_EQ(p.s.len[ms_branch], 11);
  EXPECT_EQ(p.s.buf[ms_branch][0], 1);
  EXPECT_EQ(p.s.buf[ms_branch][10], 12);
  EXPECT_EQ(p.s.len[ms_disp], 10);
  // Literals are big-endian.
  const uint32_t d0 = 777777 - 1;
  EXPECT_EQ(p.s.buf[ms_disp][0], static_cast<uint8_t>(d0 >> 24));
  EXPECT_EQ(p.s.buf[ms_disp][3], static_cast<uint8_t>(d0));
  EXPECT_EQ(p.restored(), data);
}

TEST(BranchTransform, LongAndTooLongDistances) {
  for (int distance : {200, 29997, 29998}) {
    // E8 branches back to back; the last repeats the first one's target.
    bytes data;
    for (int i = 0; i <= distance; i++)
      call(data, (i == 0 || i == distance) ? 123456789u : 5000000u + 64u * i);
    data.resize((data.size() + 99) / 100 * 100, 0xE8);  // E8 runs: every block is x86-like
    // Run the branch transform directly over one x86 stream.
    mixed_streams s;
    mixed_allocate(s, 0, 0, 0, static_cast<int64_t>(data.size()), 0);
    std::copy(data.begin(), data.end(), s.buf[ms_x86]);
    s.len[ms_x86] = static_cast<int64_t>(data.size());
    branch_encode(s);
    // Find the code of branch `distance`: codes before it are all literals (1).
    int64_t r = distance;     // one byte per earlier code
    if (distance <= 29997) {  // 200 apart: the two bytes 0x80, 0xCA (code 202)
      const int code = distance + 2;
      EXPECT_EQ(s.buf[ms_branch][r], ((code >> 8) | 0x80)) << distance;
      EXPECT_EQ(s.buf[ms_branch][r + 1], code & 0xFF) << distance;
    } else {
      EXPECT_EQ(s.buf[ms_branch][r], 1) << distance;  // too far: a literal again
    }
    std::vector<uint8_t> out(stream_history + data.size() + 8, 0);
    ASSERT_TRUE(branch_decode(s, out.data() + stream_history, static_cast<int64_t>(data.size())));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin() + stream_history));
    mixed_release(s);
  }
}

// 450 branch targets whose hashes share the low bits of the target table
// (1024 entries for a stream this short, whose overflow area starts with
// 307): the overflow area grows.
TEST(BranchTransform, CraftedTargetCollisionsAreAccepted) {
  std::vector<uint32_t> targets;
  for (uint32_t t = 1000; targets.size() < 450; t++)
    if ((fasthash_u32(t) & 1023) == (fasthash_u32(1000) & 1023)) targets.push_back(t);
  // Blocks of two x86 pairs, 19 calls and a pad byte.
  bytes data;
  for (size_t i = 0; i < targets.size(); i++) {
    if (i % 19 == 0) {
      if (i > 0) data.push_back(0x90);
      for (int c : {0x48, 0x89, 0x48, 0x89}) data.push_back(static_cast<uint8_t>(c));
    }
    call(data, targets[i]);
  }
  data.resize((data.size() + 99) / 100 * 100, 0x90);
  parsed p(data);
  for (uint8_t t : p.types()) ASSERT_EQ(t, block_x86);
  EXPECT_EQ(p.s.len[ms_branch], 450);
  EXPECT_EQ(p.s.len[ms_disp], 450);
  EXPECT_EQ(p.restored(), data);
}

TEST(MixedInverse, RoundTripsEverything) {
  const bytes exe = read_bytes("/proc/self/exe"), text = text_sample(50000, 3);
  bytes of0f;  // 0F 8x pairs back to back
  for (int i = 0; i < 3000; i++) of0f.push_back(static_cast<uint8_t>(i % 2 ? 0x0F : 0x80 + i % 16));
  std::vector<bytes> inputs = {exe, text, join({block_of(0), exe, text, block_of(9)}),
                               bytes(5000, 0xE8), of0f};
  for (int len = 0; len <= 300; len++) inputs.push_back(random_bytes(static_cast<size_t>(len), len));
  for (const bytes& in : inputs) {
    parsed p(in);
    ASSERT_EQ(p.restored(), in) << in.size();
  }
}

TEST(MixedInverse, RejectsInconsistentStreams) {
  const bytes data = join({text_block(1), block_of(3), x86_block({0xE8, 1, 2, 3, 4})});
  const std::function<void(mixed_streams&)> damage[] = {
      [](mixed_streams& s) { s.buf[ms_blocktype][0] = 7; },  // not a block type
      [](mixed_streams& s) { s.len[ms_text] = 0; },  // lengths disagree with the block counts
      [](mixed_streams& s) { s.buf[ms_branch][0] = 2; },  // names a branch not yet seen
      [](mixed_streams& s) { s.buf[ms_branch][0] = 3; },  // names one before the first
      [](mixed_streams& s) { s.len[ms_record] = 0; },  // disagrees with the record block
      [](mixed_streams& s) { s.len[ms_disp] = 0; },    // the literal runs out
      [](mixed_streams& s) { s.len[ms_branch] = 0; },  // no code for the branch
  };
  for (const auto& f : damage) {
    parsed p(data);
    f(p.s);
    bytes out(400);
    EXPECT_FALSE(mixed_inverse(out.data(), p.s)) << &f - damage;
  }
}

}  // namespace
}  // namespace vesk::test
