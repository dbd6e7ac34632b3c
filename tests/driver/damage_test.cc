// Damaged archives of the containers, decoded in this process: every cut
// and two flips of every byte of small archives, absurd header fields and
// lengths that disagree. Each is refused with a message that names the
// damage (never an internal check, never a crash) and nothing is handed to
// the output. tests/cli checks, through the binary, that a refusal leaves
// no file behind. And the bound on coded lengths those checks rest on.
#include <gtest/gtest.h>

#include <random>

#include "coding/arithmetic.h"
#include "driver/containers.h"
#include "models/model.h"
#include "support/model_support.h"
#include "support/recipes.h"
#include "support/support.h"
#include "util/bytes.h"

namespace vesk::test {
namespace {

constexpr auto npos = std::string::npos;

void expect_refused(const bytes& archive, const std::string& what, const char* message = "") {
  const unpack_result r = unpack_in_process(archive);
  if (r.kind == unpack_result::not_looked_at) return;  // the driver's (tests/cli)
  EXPECT_EQ(r.kind, unpack_result::refused) << what << ": " << r.message;
  EXPECT_FALSE(r.written) << what;
  EXPECT_TRUE(r.message.find(" is damaged (") != npos ||
              r.message.find(" is not a compressed file") != npos)
      << what << ": " << r.message;
  EXPECT_NE(r.message.find(message), npos) << what << ": " << r.message;
}

// Every cut and two flips of every byte (one bit, and all eight) are
// refused, except what is not damage: the archive cut to just before its
// 12-byte trailer reads as one of the first revision, decoded with the
// first probability rows, which either restores the original or is
// refused; a method word 1 or 2 that becomes 0 is a valid stored file.
void expect_all_damage_refused(const bytes& archive, const bytes& original) {
  ASSERT_EQ(unpack_in_process(archive).output, original);
  const size_t trailer_at = archive.size() - 12;
  for (size_t len = 0; len < archive.size(); len++) {
    const bytes b(archive.begin(), archive.begin() + static_cast<long>(len));
    const unpack_result r = unpack_in_process(b);
    if (len == trailer_at && r.kind == unpack_result::restored) {
      EXPECT_EQ(r.output, original) << "cut before the trailer";
    } else {
      expect_refused(b, "cut to " + std::to_string(len));
    }
  }
  for (size_t at = 0; at < archive.size(); at++) {
    for (const uint8_t mask : {static_cast<uint8_t>(1u << (at % 8)), uint8_t{0xFF}}) {
      bytes b = archive;
      b[at] ^= mask;
      if (at == 0 && b[0] == 0 && archive[0] != 6) {
        EXPECT_EQ(unpack_in_process(b).output, bytes(b.begin() + 4, b.end()));
      } else {
        expect_refused(b, "byte " + std::to_string(at) + " ^ " + std::to_string(mask));
      }
    }
  }
}

TEST(Damage, EveryCutAndFlipOfATextArchive) {
  const bytes original = as_bytes("Hello, world. The damaged archive must never decode: 42!\n");
  expect_all_damage_refused(pack_in_process(1, original), original);
}

// A block of every kind: every stream, the branch codes included, is there.
TEST(Damage, EveryCutAndFlipOfAMixedArchive) {
  const bytes original = pin_mixed(600, 8, 100), packed = pack_in_process(2, original);
  for (size_t field = 8; field < 44; field += 4) EXPECT_GT(get_u32(packed.data() + field), 0u) << field;
  expect_all_damage_refused(packed, original);
}

// The strong methods' archives (-9) and the stored one with its check.
TEST(Damage, EveryCutAndFlipOfStrongAndStoredArchives) {
  const bytes text = as_bytes("Hello, world. The damaged archive must never decode: 42!\n");
  const bytes kinds = pin_mixed(600, 8, 100);
  expect_all_damage_refused(pack_in_process(4, text), text);
  expect_all_damage_refused(pack_in_process(5, kinds), kinds);
  expect_all_damage_refused(pack_in_process(6, text), text);
  // Within a medium's samples too.
  const bytes image = pin_image(12, 8, 3, 3);
  expect_all_damage_refused(pack_in_process(5, image), image);
}

// Larger archives: cuts at the header's edges, absurd values in every
// header field and random flips in the coded streams.
TEST(Damage, HeaderFieldsCutsAndFlipsOfLargerArchives) {
  const struct {
    uint32_t method;
    bytes data;
    size_t header;  // bytes before the coded streams
    std::vector<size_t> cuts;
  } cases[] = {
      {1, pin_text(20000, 300, 4), 20, {4, 5, 12, 19, 20, 23, 24}},
      {2, pin_mixed(12000, 31, 1000), 44, {4, 43, 44, 60}},
  };
  std::mt19937 g(2);
  for (const auto& c : cases) {
    const bytes good = pack_in_process(c.method, c.data);
    std::vector<size_t> cuts = c.cuts;
    cuts.insert(cuts.end(), {good.size() / 2, good.size() - 2, good.size() - 1});
    for (size_t len : cuts)
      expect_refused(bytes(good.begin(), good.begin() + static_cast<long>(len)),
                     "method " + std::to_string(c.method) + " cut to " + std::to_string(len));
    for (size_t at = 4; at < c.header; at += 4) {
      for (uint32_t v : {0u, 1u, 3u, 99u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        bytes b = good;
        if (get_u32(b.data() + at) == v) continue;  // no change
        put_u32(b.data() + at, v);
        expect_refused(b, "method " + std::to_string(c.method) + " field at " +
                              std::to_string(at) + " = " + std::to_string(v));
      }
    }
    for (int trial = 0; trial < 40; trial++) {
      bytes b = good;
      const size_t at = c.header + g() % (b.size() - c.header);
      b[at] ^= static_cast<uint8_t>(1 + g() % 255);
      expect_refused(b, "method " + std::to_string(c.method) + " flip at " + std::to_string(at));
    }
  }
}

// Declared lengths are checked against what the coded streams and the file
// can hold before anything is allocated for them; the message says which.
TEST(Damage, LengthsThatDisagreeAreRefusedWithTheirReason) {
  const bytes empty_text = pack_in_process(1, {}), empty_mixed = pack_in_process(2, {});
  const struct {
    const bytes& good;
    std::vector<std::pair<size_t, uint32_t>> fields;
    const char* message;
  } cases[] = {
      // A 36-byte archive that claims streams of nearly 2 GB and 50 MB.
      {empty_text, {{8, 0x7FFFFFFC}, {12, 5}}, "stream lengths beyond their coded lengths"},
      {empty_text, {{8, 8}, {12, 50'000'000}}, "stream lengths beyond their coded lengths"},
      {empty_text, {{8, 160'000}, {12, 5}}, "stream lengths beyond their coded lengths"},
      // Longer streams than a one-byte file can have, which its coded
      // lengths could still hold.
      {empty_text, {{8, 4000}, {12, 5}}, "stream lengths beyond what the file can have"},
      {empty_text, {{8, 8}, {12, 4000}}, "stream lengths beyond what the file can have"},
      // A file of 900 MB with consistent block counts.
      {empty_mixed, {{4, 900'000'000}, {8, 900'000'000}, {16, 9'000'000}},
       "stream lengths beyond their coded lengths"},
  };
  for (const auto& c : cases) {
    bytes b = c.good;
    for (const auto& [at, v] : c.fields) put_u32(b.data() + at, v);
    expect_refused(b, c.message, c.message);
  }
  bytes longer = pack_in_process(1, as_bytes("some words here"));
  longer.push_back(0);
  expect_refused(longer, "a byte more", "bytes after the last stream");
  // A lowered n made the last block's tail vanish unnoticed; the checksum,
  // and the last block's zero padding, catch it.
  const bytes good = pack_in_process(2, random_bytes(250, 10));
  for (uint32_t less : {1u, 2u, 49u}) {
    bytes b = good;
    put_u32(b.data() + 4, 250 - less);
    expect_refused(b, "n lowered by " + std::to_string(less));
    b.resize(b.size() - 12);  // without the checksum the padding still tells
    expect_refused(b, "n lowered by " + std::to_string(less) + ", no trailer");
  }
}

// A period stream that decodes exactly but names a period the parser never
// picks (72 bytes; the longest is 68): the record model would read back
// further than it may, so the period is refused before it runs.
TEST(Damage, APeriodBeyondTheLongestIsRefused) {
  const bytes good = pack_in_process(2, pin_mixed(6000, 41, 1000));
  const uint32_t periodc = get_u32(good.data() + 28), len = get_u32(good.data() + 44);
  ASSERT_GT(periodc, 0u);
  const bytes coded = model_encode(byte_model, bytes(periodc, 72));
  bytes b = good;
  b.erase(b.begin() + 48, b.begin() + 48 + len);
  b.insert(b.begin() + 48, coded.begin(), coded.end());
  put_u32(b.data() + 44, static_cast<uint32_t>(coded.size()));
  expect_refused(b, "period 72", "bad period");
}

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
}  // namespace vesk::test
