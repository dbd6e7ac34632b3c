// The format is frozen: every archive vesk ever wrote must decode, and
// today's must come out byte for byte the same. One pin per archive:
// - tests/cli/frozen: small archives of every method and stream, checked in;
//   they decode to their sources (the frozen recipes), which compress to
//   exactly them;
// - larger ones, whose models' tables grow their maps many times over,
//   pinned by size and hash;
// - tests/cli/fixtures: archives of the first revision (no trailer, or an
//   "XXH3" one), coded with the first probability rows, which must keep
//   decoding.
// A change that makes this suite fail changes the coded bits, which takes
// its own decision: new archives would need a new trailer marker.
#include <gtest/gtest.h>
#include <xxhash.h>

#include <string>

#include "support/recipes.h"
#include "support/support.h"
#include "util/bytes.h"

namespace vesk::test {
namespace {

const std::string frozen = VESK_SOURCE_DIR "/tests/cli/frozen/";
const std::string fixtures = VESK_SOURCE_DIR "/tests/cli/fixtures/";

uint32_t method_of(const std::string& name) {
  const std::string ext = name.substr(name.size() - 4);
  return ext == ".txt" ? 1 : ext == ".dat" ? 2 : 0;
}

TEST(FrozenFormat, ArchivesDecodeToTheirSourcesAndSourcesCompressToThem) {
  for (const recipe& r : frozen_recipes()) {
    SCOPED_TRACE(r.name);
    const bytes archive = read_bytes(frozen + r.name + ".arc");
    EXPECT_TRUE(unpack_in_process(archive).output == r.data);
    EXPECT_TRUE(pack_in_process(method_of(r.name), r.data) == archive);
  }
  // And through the binary, as a user restores one.
  scratch_dir d;
  const run_result x = run_vesk({"-d", frozen + "kinds.dat.arc", d.path("out")});
  EXPECT_EQ(x.out, "Decompressing mixed\n");
  EXPECT_TRUE(read_bytes(d.path("out")) == frozen_recipes()[1].data);
}

// The frozen archives cover every method and, in the mixed one, every
// stream: binary, record, x86 with its branch transform, text.
TEST(FrozenFormat, ArchivesCoverEveryMethodAndStream) {
  bool method_seen[3] = {};
  for (const recipe& r : frozen_recipes()) {
    const bytes a = read_bytes(frozen + r.name + ".arc");
    ASSERT_GE(a.size(), 4u) << r.name;
    ASSERT_LT(get_u32(a.data()), 3u) << r.name;
    method_seen[get_u32(a.data())] = true;
  }
  EXPECT_TRUE(method_seen[0] && method_seen[1] && method_seen[2]);
  const bytes kinds = read_bytes(frozen + "kinds.dat.arc");
  ASSERT_GE(kinds.size(), 44u);
  // binaryc, recordc, blocktypec, x86c, textc, periodc, mismatchc, branchc, dispc
  for (size_t field = 8; field < 44; field += 4)
    EXPECT_GT(get_u32(kinds.data() + field), 0u) << "header field at " << field;
}

// 64-bit FNV-1a.
uint64_t fnv64(const bytes& b) {
  uint64_t h = 0xcbf29ce484222325;
  for (uint8_t c : b) h = (h ^ c) * 0x100000001b3;
  return h;
}

// Larger archives of the recipes, pinned by the size and hash of their
// header and coded streams; behind them the trailer: "VSK2" and the XXH3
// 64-bit hash of the original, little-endian. Each restores its source
// through the binary.
struct pin {
  const char* name;
  bytes data;
  size_t size;
  uint64_t hash;
};

void expect_pinned(const std::vector<pin>& pins) {
  for (const pin& p : pins) {
    SCOPED_TRACE(p.name);
    bytes archive = cli_round_trip(p.name, method_of(p.name) == 1 ? "text" : "mixed", p.data);
    ASSERT_GE(archive.size(), 12u);
    bytes trailer = {'V', 'S', 'K', '2', 0, 0, 0, 0, 0, 0, 0, 0};
    const uint64_t h = XXH3_64bits(p.data.data(), p.data.size());
    for (size_t i = 0; i < 8; i++) trailer[4 + i] = static_cast<uint8_t>(h >> (8 * i));
    EXPECT_EQ(bytes(archive.end() - 12, archive.end()), trailer);
    archive.resize(archive.size() - 12);
    EXPECT_EQ(archive.size(), p.size);
    EXPECT_EQ(fnv64(archive), p.hash) << std::hex << "0x" << fnv64(archive);
  }
}

TEST(FrozenFormat, LargerTextArchivesAreUnchanged) {
  expect_pinned({{"prose.txt", pin_text(300000, 3000, 1), 70468, 0xc9d68d339416b8a7},
                 {"wordy.txt", pin_text(300000, 60000, 2), 97854, 0x6523d875527a40c0},
                 {"short.txt", pin_text(1000, 50, 3), 384, 0x900c4aa011c4e689}});
}

TEST(FrozenFormat, LargerMixedArchivesAreUnchanged) {
  expect_pinned({{"kinds.dat", pin_mixed(600000, 4), 214936, 0xc782ad32ba6b5fc0},
                 {"short.dat", pin_mixed(1000, 5), 570, 0x7d11e885f1ea40f0}});
}

// Over a million random bytes: nearly every context is new, and the block
// model's map grows to millions of buckets.
TEST(FrozenFormat, NoiseArchiveIsUnchanged) {
  expect_pinned({{"noise.dat", pin_noise(1200000, 6), 1204424, 0x63732ea19e17e6fd}});
}

// About 2 KB of short numbered sentences.
bytes old_text() {
  std::string s;
  for (int i = 0; i < 40; i++) {
    s += "Line " + std::to_string(i) + ": the quick brown fox jumps over the lazy dog, ";
    s += std::to_string(i * i * 7919 % 10007) + (i % 5 == 4 ? ".\n" : "; ");
  }
  return bytes(s.begin(), s.end());
}

// Three blocks: letters, bytes of a multiplicative sequence, and x86-like
// code with calls.
bytes old_mixed() {
  bytes b;
  for (int i = 0; i < 100; i++) b.push_back(static_cast<uint8_t>("context mixing "[i % 15]));
  uint32_t x = 1;
  for (int i = 0; i < 100; i++) {
    x = x * 1103515245 + 12345;
    b.push_back(static_cast<uint8_t>(x >> 24));
  }
  for (int i = 0; i < 10; i++) {
    const uint8_t code[] = {0x48, 0x89, 0xE5, 0xE8, static_cast<uint8_t>(16 * i), 0x10, 0, 0, 0x90, 0xC3};
    b.insert(b.end(), std::begin(code), std::end(code));
  }
  return b;
}

bytes old_stored() {
  bytes b;
  for (int i = 0; i < 256; i++) b.push_back(static_cast<uint8_t>(255 - i));
  return b;
}

TEST(FrozenFormat, ArchivesOfTheFirstRevisionStillDecode) {
  const bytes prose = frozen_recipes()[0].data, kinds = frozen_recipes()[1].data;
  const struct {
    const char* archive;
    bytes original;
  } cases[] = {{"xxh3-prose.bin", prose},           {"xxh3-kinds.bin", kinds},
               {"trailerless-text.bin", old_text()}, {"trailerless-mixed.bin", old_mixed()},
               {"stored.bin", old_stored()},         {"trailerless-empty-text.bin", {}},
               {"trailerless-empty-mixed.bin", {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.archive);
    bytes a = read_bytes(fixtures + c.archive);
    const unpack_result r = unpack_in_process(a);
    EXPECT_EQ(r.kind, unpack_result::restored) << r.message;
    EXPECT_TRUE(r.output == c.original);
    // The marker picks the rows: the same streams read with today's rows
    // decode to other bytes, which the stream checks or the checksum refuse.
    if (std::string(c.archive).rfind("xxh3-", 0) == 0) {
      std::copy_n("VSK2", 4, a.end() - 12);
      EXPECT_EQ(unpack_in_process(a).kind, unpack_result::refused);
    }
  }
  // The stored layout never changed.
  EXPECT_TRUE(pack_in_process(0, old_stored()) == read_bytes(fixtures + "stored.bin"));
}

}  // namespace
}  // namespace vesk::test
