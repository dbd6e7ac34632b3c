// The coded bits are the format: archives of data made by a fixed recipe must
// come out byte for byte as pinned here, whatever is done for speed or
// memory. The data comes from a hand-written generator (no standard-library
// distributions, whose output differs between libraries), sized so that the
// models' tables grow their maps many times over. The small archives of the
// frozen-format test are checked in; these larger ones are pinned by size
// and hash.
#include <gtest/gtest.h>
#include <xxhash.h>

#include <cstdint>
#include <string>

#include "support/recipes.h"
#include "support/support.h"

namespace vesk::test {
namespace {

// 64-bit FNV-1a of an archive.
uint64_t fnv64(const bytes& b) {
  uint64_t h = 0xcbf29ce484222325;
  for (uint8_t c : b) h = (h ^ c) * 0x100000001b3;
  return h;
}

struct pinned {
  const char* name;
  const char* method;
  bytes data;
  size_t size;
  uint64_t hash;
};

// The pinned figures cover the header and the coded streams; behind them
// the archive carries its checksum trailer: "VSK2" and the XXH3 64-bit hash
// of the original, little-endian.
void expect_pinned(const pinned& p) {
  SCOPED_TRACE(p.name);
  bytes archive = cli_round_trip(p.name, p.method, p.data);
  ASSERT_GE(archive.size(), 12u);
  const bytes trailer(archive.end() - 12, archive.end());
  archive.resize(archive.size() - 12);
  EXPECT_EQ(archive.size(), p.size);
  EXPECT_EQ(fnv64(archive), p.hash) << std::hex << "0x" << fnv64(archive);
  bytes expected = {'V', 'S', 'K', '2'};
  const uint64_t h = XXH3_64bits(p.data.data(), p.data.size());
  for (int i = 0; i < 8; i++) expected.push_back(static_cast<uint8_t>(h >> (8 * i)));
  EXPECT_EQ(trailer, expected);
}

TEST(Reference, TextArchivesAreUnchanged) {
  expect_pinned({"prose.txt", "text", pin_text(300000, 3000, 1), 70468, 0xc9d68d339416b8a7});
  expect_pinned({"wordy.txt", "text", pin_text(300000, 60000, 2), 97854, 0x6523d875527a40c0});
  expect_pinned({"short.txt", "text", pin_text(1000, 50, 3), 384, 0x900c4aa011c4e689});
}

TEST(Reference, MixedArchivesAreUnchanged) {
  const pinned kinds{"kinds.dat", "mixed", pin_mixed(600000, 4), 214936, 0xc782ad32ba6b5fc0};
  expect_pinned(kinds);
  // The recipe reaches every stream: binary, record, x86, text, branch, disp.
  scratch_dir d;
  write_bytes(d.path("kinds.dat"), kinds.data);
  ASSERT_EQ(run_vesk({"-c", d.path("kinds.dat"), d.path("kinds.vsk")}).status, 0);
  const bytes a = read_bytes(d.path("kinds.vsk"));
  for (int field : {8, 12, 20, 24, 36, 40})
    EXPECT_GT(a[field] | a[field + 1] << 8 | a[field + 2] << 16, 0) << "header field at " << field;
  expect_pinned({"short.dat", "mixed", pin_mixed(1000, 5), 570, 0x7d11e885f1ea40f0});
}

// Over a million random bytes: nearly every context is new, and the block
// model's map grows to millions of buckets.
TEST(Reference, NoiseArchiveIsUnchanged) {
  expect_pinned({"noise.dat", "mixed", pin_noise(1200000, 6), 1204424, 0x63732ea19e17e6fd});
}

}  // namespace
}  // namespace vesk::test
