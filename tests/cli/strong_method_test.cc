// The strong methods (-9, method words 4 and 5) end to end through the
// built binary.
#include <gtest/gtest.h>

#include <string>

#include "support/recipes.h"
#include "support/support.h"
#include "util/bytes.h"

namespace vesk::test {
namespace {

const std::vector<std::string> strong = {"-9"};

bytes as_bytes(const std::string& s) {
  return bytes(s.begin(), s.end());
}

bytes machine_file(const char* path, size_t most) {
  bytes b = read_bytes(path);
  if (b.size() > most) b.resize(most);
  return b;
}

bytes repeated_text(size_t part, uint64_t seed) {
  return pin_repeated(part, 1500, seed);
}

TEST(StrongMethods, TextRoundTrips) {
  const std::vector<bytes> inputs = {
      {},
      as_bytes(" "),
      as_bytes("x"),
      as_bytes("Hello"),
      pin_text(99, 20, 1),
      pin_text(100, 20, 2),
      pin_text(101, 20, 3),
      repeated_text(50000, 4),
      text_sample(200000, 5),
      machine_file("/proc/self/exe", 100000),  // binary data named .txt
      random_bytes(30000, 6),
      bytes(50000, ' '),
  };
  for (const bytes& b : inputs) {
    const bytes packed = cli_round_trip("in.txt", "text", b, strong);
    ASSERT_GE(packed.size(), 4u);
    EXPECT_EQ(get_u32(packed.data()), 4u) << b.size();
  }
}

TEST(StrongMethods, MixedRoundTrips) {
  const std::vector<bytes> inputs = {
      {},
      {0x7F},
      random_bytes(99, 1),
      random_bytes(100, 2),
      random_bytes(101, 3),
      machine_file("/proc/self/exe", 200000),
      pin_mixed(120000, 7, 8000),
      repeated_text(40000, 8),
      bytes(100000, 0),
  };
  for (const bytes& b : inputs) {
    const bytes packed = cli_round_trip("in.dat", "mixed", b, strong);
    ASSERT_GE(packed.size(), 4u);
    EXPECT_EQ(get_u32(packed.data()), 5u) << b.size();
  }
}

// -9 may stand before or after -c and codes the same either way; it
// changes nothing for the stored method, and decompression ignores it.
TEST(StrongMethods, FlagBeforeOrAfterTheMode) {
  scratch_dir d;
  const bytes text = repeated_text(20000, 9);
  write_bytes(d.path("in.txt"), text);
  write_bytes(d.path("in.bin"), text);
  ASSERT_EQ(run_vesk({"-9", "-c", d.path("in.txt"), d.path("a")}).status, 0);
  ASSERT_EQ(run_vesk({"-c", "-9", d.path("in.txt"), d.path("b")}).status, 0);
  ASSERT_EQ(run_vesk({"-c", d.path("in.txt"), d.path("plain")}).status, 0);
  EXPECT_EQ(read_bytes(d.path("a")), read_bytes(d.path("b")));
  EXPECT_EQ(get_u32(read_bytes(d.path("plain")).data()), 1u);
  EXPECT_LT(read_bytes(d.path("a")).size(), read_bytes(d.path("plain")).size());
  ASSERT_EQ(run_vesk({"-9", "-c", d.path("in.bin"), d.path("stored")}).status, 0);
  EXPECT_EQ(get_u32(read_bytes(d.path("stored")).data()), 0u);
  run_result r = run_vesk({"-9", "-d", d.path("a"), d.path("out")});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Decompressing text\n");
  EXPECT_TRUE(read_bytes(d.path("out")) == text);
}

TEST(StrongMethods, MisplacedOrRepeatedFlagPrintsUsage) {
  scratch_dir d;
  write_bytes(d.path("in.txt"), {'a'});
  const std::vector<std::vector<std::string>> cases = {
      {"-9", "-9", "-c", d.path("in.txt"), d.path("out")},
      {"-c", d.path("in.txt"), "-9", d.path("out")},
      {"-c", d.path("in.txt"), d.path("out"), "-9"},
      {"-9", d.path("in.txt"), d.path("out")},
      {"-9"},
  };
  for (const auto& args : cases) {
    run_result r = run_vesk(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.substr(0, 15), "Vesk version 4\n");
  }
  EXPECT_FALSE(exists(d.path("out")));
}

// Every cut and two flips of every byte of a small text archive are
// refused (a method word 4 that becomes 0 is a valid stored file, which the
// sweep expects).
TEST(StrongMethods, EveryDamageOfASmallTextArchiveIsRefused) {
  const bytes text = as_bytes("Hello, world. The damaged archive must never decode: 42!\n");
  expect_all_damage_refused(cli_round_trip("in.txt", "text", text, strong), text);
}

// The mixed container's checks are those of method 2, whose archives the
// mixed tests sweep byte by byte; here the strong models decode damaged
// streams: cuts and flips all over a small archive.
TEST(StrongMethods, DamagedMixedArchivesAreRefused) {
  const bytes good = cli_round_trip("in.dat", "mixed", pin_mixed(3000, 10, 500), strong);
  for (size_t len : {size_t{4}, size_t{43}, size_t{44}, size_t{80}, good.size() / 2,
                     good.size() - 13, good.size() - 12, good.size() - 1}) {
    const bytes b(good.begin(), good.begin() + static_cast<long>(len));
    expect_clean_failure(b, "cut to " + std::to_string(len));
  }
  expect_flips_fail_cleanly(good, 1, 40, 3);
}

// A strong archive without its checksum trailer is damage: every archive
// of these methods was written with one.
TEST(StrongMethods, ArchivesWithoutTheTrailerAreRefused) {
  const bytes text = repeated_text(3000, 11);
  for (const auto& [name, word] : {std::pair{"in.txt", "text"}, std::pair{"in.dat", "mixed"}}) {
    bytes b = cli_round_trip(name, word, text, strong);
    b.resize(b.size() - 12);
    run_result r = expect_clean_failure(b, name);
    EXPECT_NE(r.out.find("bad checksum trailer"), std::string::npos) << r.out;
  }
}

// Strong archives whose method word is swapped to the other strong method,
// or to the default method of the same layout, are refused: the streams
// decode to garbage that the checks catch.
TEST(StrongMethods, SwappedMethodWordsAreRefused) {
  const bytes text = repeated_text(5000, 12);
  const bytes t = cli_round_trip("in.txt", "text", text, strong);
  const bytes m = cli_round_trip("in.dat", "mixed", text, strong);
  for (const auto& [archive, word] :
       {std::pair{t, 5u}, std::pair{t, 1u}, std::pair{m, 4u}, std::pair{m, 2u}, std::pair{t, 3u}}) {
    bytes b = archive;
    put_u32(b.data(), word);
    expect_clean_failure(b, "method word " + std::to_string(word));
  }
}

}  // namespace
}  // namespace vesk::test
