// Archives of the first format revision must keep decoding: those made
// before the checksum trailer existed (by vesk version 4 as first released)
// and those with an "XXH3" trailer (made before the byte predictor's rows
// were fitted). Both were coded with the first probability rows. The
// originals come from the recipes below and from the frozen recipes; the
// archives are checked in.
#include <gtest/gtest.h>

#include <string>

#include "support/recipes.h"
#include "support/support.h"

namespace vesk::test {
namespace {

const std::string fixtures = VESK_SOURCE_DIR "/tests/cli/fixtures/";

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

struct fixture {
  const char* archive;
  const char* name;  // the original's name, which picks the method
  const char* method;
  bytes original;
};

bytes frozen_source(const std::string& name) {
  for (const recipe& r : frozen_recipes())
    if (r.name == name) return r.data;
  throw std::runtime_error("no recipe " + name);
}

std::vector<fixture> all_fixtures() {
  return {{"xxh3-prose.bin", "prose.txt", "text", frozen_source("prose.txt")},
          {"xxh3-kinds.bin", "kinds.dat", "mixed", frozen_source("kinds.dat")},
          {"trailerless-text.bin", "old.txt", "text", old_text()},
          {"trailerless-mixed.bin", "old.dat", "mixed", old_mixed()},
          {"stored.bin", "old.bin", "default", old_stored()},
          {"trailerless-empty-text.bin", "empty.txt", "text", {}},
          {"trailerless-empty-mixed.bin", "empty.dat", "mixed", {}}};
}

TEST(OldArchives, StillDecode) {
  for (const fixture& f : all_fixtures()) {
    SCOPED_TRACE(f.archive);
    scratch_dir d;
    run_result r = run_vesk({"-d", fixtures + f.archive, d.path("out")});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, std::string("Decompressing ") + f.method + "\n");
    EXPECT_TRUE(read_bytes(d.path("out")) == f.original);
  }
}

// The stored layout never changed.
TEST(OldArchives, StoredArchiveIsTodays) {
  EXPECT_TRUE(cli_round_trip("old.bin", "default", old_stored()) == read_bytes(fixtures + "stored.bin"));
}

// The marker picks the rows: the same streams read with today's rows decode
// to other bytes, which the stream checks or the checksum refuse.
TEST(OldArchives, RowsFollowTheTrailerMarker) {
  for (const char* name : {"xxh3-prose.bin", "xxh3-kinds.bin"}) {
    SCOPED_TRACE(name);
    bytes a = read_bytes(fixtures + name);
    ASSERT_GT(a.size(), 12u);
    const std::string marker = "VSK2";
    std::copy(marker.begin(), marker.end(), a.end() - 12);
    expect_clean_failure(a, "today's marker on streams of the first rows");
  }
}

}  // namespace
}  // namespace vesk::test
