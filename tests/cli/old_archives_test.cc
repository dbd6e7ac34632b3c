// Archives made before the checksum trailer existed (by vesk version 4 as
// first released) must keep decoding, and today's compressor must produce
// the same coded streams for the same files, with the trailer behind them.
// The originals come from the recipes below; the archives are checked in.
#include <gtest/gtest.h>

#include <string>

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

std::vector<fixture> all_fixtures() {
  return {{"trailerless-text.bin", "old.txt", "text", old_text()},
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

// Today's archive is the old one with the trailer behind it (the stored
// layout has none).
TEST(OldArchives, TodaysArchivesAddOnlyTheTrailer) {
  for (const fixture& f : all_fixtures()) {
    SCOPED_TRACE(f.archive);
    const bytes old = read_bytes(fixtures + f.archive);
    const bytes now = cli_round_trip(f.name, f.method, f.original);
    const size_t trailer = std::string(f.method) == "default" ? 0 : 12;
    ASSERT_EQ(now.size(), old.size() + trailer);
    EXPECT_TRUE(bytes(now.begin(), now.begin() + static_cast<long>(old.size())) == old);
  }
}

}  // namespace
}  // namespace vesk::test
