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

#include <algorithm>

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

// They cover every method and, in the mixed one, every stream: binary,
// record, x86 with its branch transform, text.
TEST(FrozenFormat, ArchivesDecodeToTheirSourcesAndSourcesCompressToThem) {
  for (const recipe& r : frozen_recipes()) {
    SCOPED_TRACE(r.name);
    const bytes archive = read_bytes(frozen + r.name + ".arc");
    EXPECT_TRUE(unpack_in_process(archive).output == r.data);
    EXPECT_TRUE(pack_in_process(method_of(r.name), r.data) == archive);
  }
}

// The strong methods' archives (-9, method words 4 and 5), frozen when
// the command line came to write them: every model with its match models,
// the final stage, the media and word contexts.
TEST(FrozenFormat, StrongArchivesDecodeToTheirSourcesAndSourcesCompressToThem) {
  for (const recipe& r : frozen_strong_recipes()) {
    SCOPED_TRACE(r.name);
    const bytes archive = read_bytes(frozen + "strong/" + r.name + ".arc");
    EXPECT_EQ(get_u32(archive.data()), method_of(r.name) + 3);
    EXPECT_TRUE(unpack_in_process(archive).output == r.data);
    EXPECT_TRUE(pack_in_process(method_of(r.name) + 3, r.data) == archive);
  }
}

// Larger strong archives, through the binary: size and hash of the whole
// archive, trailer included.
TEST(FrozenFormat, LargerStrongArchivesAreUnchanged) {
  const struct {
    const char* name;
    bytes data;
    size_t size;
    uint64_t hash;
  } pins[] = {
      {"prose.txt", pin_text(300000, 3000, 1), 69514, 0x6d9b86efa3ccc0b6},
      {"repeats.txt", pin_repeated(100000, 2000, 2), 24020, 0x7ff1f61d0b2ad2e9},
      {"kinds.dat", pin_mixed(600000, 4), 209856, 0xf16f03b880b892dd},
      {"photo.dat", pin_image(300, 200, 3, 5), 101932, 0x133308a933bd09b0},
      {"sound.dat", pin_wav(100000, 2, 16, 6), 53938, 0x132cc5ea0f66d569},
  };
  for (const auto& p : pins) {
    SCOPED_TRACE(p.name);
    scratch_dir d;
    write_bytes(d.path(p.name), p.data);
    ASSERT_EQ(run_vesk({"-9", "-q", "-c", d.path(p.name), d.path("packed")}).status, 0);
    const bytes archive = read_bytes(d.path("packed"));
    EXPECT_EQ(archive.size(), p.size);
    EXPECT_EQ(fnv64(archive), p.hash) << std::hex << "0x" << fnv64(archive);
    ASSERT_EQ(run_vesk({"-q", "-d", d.path("packed"), d.path("back")}).status, 0);
    EXPECT_TRUE(read_bytes(d.path("back")) == p.data);
  }
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

TEST(FrozenFormat, LargerArchivesAreUnchanged) {
  expect_pinned({{"prose.txt", pin_text(300000, 3000, 1), 70468, 0xc9d68d339416b8a7},
                 {"wordy.txt", pin_text(300000, 60000, 2), 97854, 0x6523d875527a40c0},
                 {"short.txt", pin_text(1000, 50, 3), 384, 0x900c4aa011c4e689},
                 {"kinds.dat", pin_mixed(600000, 4), 214936, 0xc782ad32ba6b5fc0},
                 {"short.dat", pin_mixed(1000, 5), 570, 0x7d11e885f1ea40f0}});
}

// Over a million random bytes: nearly every context is new, and the block
// model's map grows to millions of buckets.
TEST(FrozenFormat, NoiseArchiveIsUnchanged) {
  expect_pinned({{"noise.dat", random_bytes(1200000, 6), 1204424, 0x63732ea19e17e6fd}});
}

// The originals of the first revision's archives: the frozen recipes, or
// (made by code of their time) pinned by size and hash.
TEST(FrozenFormat, ArchivesOfTheFirstRevisionStillDecode) {
  bytes stored = every_byte();  // 255 down to 0
  std::reverse(stored.begin(), stored.end());
  const struct {
    const char* archive;
    bytes original;
    size_t size = 0;  // a size and hash instead of the original
    uint64_t hash = 0;
  } cases[] = {{"xxh3-prose.bin", frozen_recipes()[0].data},
               {"xxh3-kinds.bin", frozen_recipes()[1].data},
               {"trailerless-text.bin", {}, 2384, 0x40d893d74dd342da},  // numbered sentences
               {"trailerless-mixed.bin", {}, 300, 0x36097215bcd23bcb},  // letters, noise, x86
               {"stored.bin", stored},
               {"trailerless-empty-text.bin", {}},
               {"trailerless-empty-mixed.bin", {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.archive);
    bytes a = read_bytes(fixtures + c.archive);
    const unpack_result r = unpack_in_process(a);
    EXPECT_EQ(r.kind, unpack_result::restored) << r.message;
    if (c.size == 0) {
      EXPECT_TRUE(r.output == c.original);
    } else {
      EXPECT_EQ(r.output.size(), c.size);
      EXPECT_EQ(fnv64(r.output), c.hash);
    }
    // The marker picks the rows: the same streams read with today's rows
    // decode to other bytes, which the stream checks or the checksum refuse.
    if (std::string(c.archive).rfind("xxh3-", 0) == 0) {
      std::copy_n("VSK2", 4, a.end() - 12);
      EXPECT_EQ(unpack_in_process(a).kind, unpack_result::refused);
    }
  }
}

}  // namespace
}  // namespace vesk::test
