// The text method end to end through the built binary.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/support.h"
#include "util/bytes.h"

namespace vesk::test {
namespace {

bytes as_bytes(const std::string& s) {
  return bytes(s.begin(), s.end());
}

// Compresses and restores `data` as name.txt; returns the compressed file.
bytes text_round_trip(const bytes& data) {
  return cli_round_trip("in.txt", "text", data);
}

bytes machine_file(const char* path, size_t most) {
  bytes b = read_bytes(path);
  if (b.size() > most) b.resize(most);
  return b;
}

TEST(TextMethod, RoundTripsVariedTexts) {
  std::string upper, tabs, digits, words;
  std::mt19937 g(1);
  for (int i = 0; i < 3000; i++) {
    upper += "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG. ";
    tabs += "col1\tcol2\t\tcol3\r\n";
    digits += std::to_string(g());
  }
  for (int i = 0; i < 20000; i++) {
    words += 'w';
    words += std::to_string(g() % 5000);
    words += '\n';
  }
  const std::vector<bytes> inputs = {
      {},
      as_bytes(" "),
      as_bytes("x"),
      as_bytes("Hello"),
      as_bytes(upper),
      as_bytes(tabs),
      as_bytes(digits),
      as_bytes(words),
      text_sample(400000, 3),
      machine_file("/proc/self/exe", 200000),  // binary data named .txt
      random_bytes(50000, 9),
      bytes(100000, ' '),
      bytes(70000, '\\'),
  };
  for (const bytes& b : inputs) text_round_trip(b);
}

TEST(TextMethod, SourceCodeOfTheMachine) {
  bytes src;
  for (const char* f : {"/usr/include/stdio.h", "/usr/include/stdlib.h", "/usr/include/string.h"}) {
    bytes b = read_bytes(f);
    src.insert(src.end(), b.begin(), b.end());
  }
  bytes packed = text_round_trip(src);
  EXPECT_LT(packed.size(), src.size() / 3);
}

TEST(TextMethod, ContainerLayout) {
  bytes packed = text_round_trip(as_bytes("Hello"));
  ASSERT_GE(packed.size(), 24u);
  EXPECT_EQ(get_u32(packed.data()), 1u);        // method word
  EXPECT_EQ(get_u32(packed.data() + 4), 6u);    // n = length + 1
  EXPECT_EQ(get_u32(packed.data() + 8), 12u);   // three slots: \s, \u, hello
  EXPECT_EQ(get_u32(packed.data() + 12), 13u);  // " \u \s hello" and a closing space
  const uint32_t k1 = get_u32(packed.data() + 16);
  ASSERT_LE(20 + k1 + 4, packed.size());
  const uint32_t k2 = get_u32(packed.data() + 20 + k1);
  EXPECT_EQ(packed.size(), 24u + k1 + k2 + 12);  // and the checksum trailer
  EXPECT_EQ(std::string(packed.begin() + 24 + k1 + k2, packed.begin() + 28 + k1 + k2), "VSK2");
  EXPECT_EQ(k1 % 2, 0u);
  EXPECT_GE(k1, 4u);
  EXPECT_EQ(k2 % 2, 0u);
  EXPECT_GE(k2, 4u);
}

TEST(TextMethod, EmptyFile) {
  bytes packed = text_round_trip({});
  EXPECT_EQ(get_u32(packed.data() + 4), 1u);
  EXPECT_EQ(get_u32(packed.data() + 8), 8u);   // codes 1, 0
  EXPECT_EQ(get_u32(packed.data() + 12), 5u);  // space, space, \s, space
}

TEST(TextMethod, DamagedArchivesFailCleanly) {
  const bytes good = text_round_trip(text_sample(20000, 4));
  // Truncations.
  for (size_t len : {size_t{4}, size_t{5}, size_t{12}, size_t{19}, size_t{20}, size_t{23},
                     size_t{24}, good.size() / 2, good.size() - 2, good.size() - 1}) {
    const bytes b(good.begin(), good.begin() + static_cast<long>(len));
    expect_clean_failure(b, "truncated to " + std::to_string(len));
  }
  // Absurd header fields.
  for (size_t at : {4u, 8u, 12u, 16u}) {
    for (uint32_t v : {0u, 1u, 3u, 0x7FFFFFFFu, 0xFFFFFFFFu, 0x80000000u}) {
      bytes b = good;
      if (get_u32(b.data() + at) == v) continue;  // no change
      put_u32(b.data() + at, v);
      expect_clean_failure(b, "field " + std::to_string(at) + " = " + std::to_string(v));
    }
  }
  expect_flips_fail_cleanly(good, 20, 25, 2);  // bytes flipped in the coded streams
}

// Every cut and two flips of every byte of a small archive.
TEST(TextMethod, EveryDamageOfASmallArchiveIsRefused) {
  const bytes original = as_bytes("Hello, world. The damaged archive must never decode: 42!\n");
  expect_all_damage_refused(text_round_trip(original), original);
}

// A 36-byte archive that claims streams of nearly 2 GB and 50 MB is refused
// before anything is allocated for them.
TEST(TextMethod, StreamLengthsBeyondTheirCodedLengthsAreRefused) {
  const bytes good = text_round_trip({});
  for (const auto& [l1, l2] : {std::pair{0x7FFFFFFCu, 5u}, std::pair{8u, 50'000'000u},
                               std::pair{4u * 40'000u, 5u}}) {
    bytes b = good;
    put_u32(b.data() + 8, l1);
    put_u32(b.data() + 12, l2);
    run_result r = expect_clean_failure(b, "L1 = " + std::to_string(l1));
    EXPECT_NE(r.out.find("stream lengths beyond their coded lengths"), std::string::npos) << r.out;
  }
}

// The empty file's archive (n = 1) with longer streams than any one-byte
// file can have, which its coded lengths could still hold.
TEST(TextMethod, StreamLengthsBeyondTheFileAreRefused) {
  const bytes good = text_round_trip({});
  for (const auto& [l1, l2] : {std::pair{4000u, 5u}, std::pair{8u, 4000u}}) {
    bytes b = good;
    put_u32(b.data() + 8, l1);
    put_u32(b.data() + 12, l2);
    run_result r = expect_clean_failure(b, "L1 = " + std::to_string(l1));
    EXPECT_NE(r.out.find("stream lengths beyond what the file can have"), std::string::npos)
        << r.out;
  }
}

TEST(TextMethod, ExtraBytesAfterTheStreamsAreRefused) {
  bytes b = text_round_trip(as_bytes("some words here"));
  b.push_back(0);
  run_result r = expect_clean_failure(b, "a byte more");
  EXPECT_NE(r.out.find("bytes after the last stream"), std::string::npos) << r.out;
}

// More than 16512 + 999999 distinct words cannot be ordered: such a text is
// coded with the mixed method, with a note on standard error.
TEST(TextMethod, TooManyDistinctWordsAreCodedWithTheMixedMethod) {
  std::string s;
  s.reserve(7'000'000);
  for (int i = 0; i < 1'100'000; i++) {
    for (int v = i;; v /= 26) {
      s += static_cast<char>('a' + v % 26);
      if (v < 26) break;
    }
    s += ' ';
  }
  const bytes text = as_bytes(s);
  scratch_dir d;
  write_bytes(d.path("big.txt"), text);
  run_result c = run_vesk({"-c", d.path("big.txt"), d.path("packed")});
  ASSERT_EQ(c.status, 0) << c.out;
  EXPECT_NE(c.out.find("Compressing text\n"), std::string::npos) << c.out;
  EXPECT_NE(c.out.find("Note: the text method cannot code " + d.path("big.txt") +
                       " (more than 1016511 distinct words); it is coded with the mixed method"),
            std::string::npos)
      << c.out;
  const bytes packed = read_bytes(d.path("packed"));
  ASSERT_GE(packed.size(), 4u);
  EXPECT_EQ(get_u32(packed.data()), 2u);  // the method word says mixed
  run_result x = run_vesk({"-d", d.path("packed"), d.path("out")});
  ASSERT_EQ(x.status, 0) << x.out;
  EXPECT_EQ(x.out, "Decompressing mixed\n");
  EXPECT_TRUE(read_bytes(d.path("out")) == text);
}

}  // namespace
}  // namespace vesk::test
