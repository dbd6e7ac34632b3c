// The three methods end to end through the built binary: round trips of
// varied files, a text the text method cannot code, and damaged archives
// refused with nothing left behind. (The containers' layout is pinned by
// the frozen archives; tests/driver sweeps the damage itself in-process.)
#include <gtest/gtest.h>
#include <xxhash.h>

#include <random>
#include <tuple>

#include "support/recipes.h"
#include "support/support.h"
#include "util/bytes.h"

namespace vesk::test {
namespace {

bytes files(const std::string& command, size_t most) {
  scratch_dir d;
  EXPECT_EQ(run_shell(command + " > '" + d.path("t") + "'").status, 0);
  return read_bytes(d.path("t"), most);
}

TEST(Methods, RoundTripsOfVariedFiles) {
  std::string upper, tabs, digits, words, records;
  std::mt19937 g(1);
  for (int i = 0; i < 3000; i++) {
    upper += "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG. ";
    tabs += "col1\tcol2\t\tcol3\r\n";
    digits += std::to_string(g());
  }
  for (int i = 0; i < 20000; i++) words += 'w' + std::to_string(g() % 5000) + '\n';
  for (int stride : {8, 12, 20, 36, 64, 16})  // record blocks whose stride changes
    for (int i = 0; i < 600; i++) records += static_cast<char>(i % stride ? i % stride * 9 : i / stride);
  const bytes exe = read_bytes("/proc/self/exe", 150000);
  const std::pair<std::string, bytes> cases[] = {
      {"empty.txt", {}}, {"space.txt", as_bytes(" ")}, {"x.txt", as_bytes("x")},
      {"hello.txt", as_bytes("Hello")}, {"upper.txt", as_bytes(upper)}, {"tabs.txt", as_bytes(tabs)},
      {"digits.txt", as_bytes(digits)}, {"words.txt", as_bytes(words)},
      {"prose.txt", text_sample(200000, 3)}, {"exe.txt", bytes(exe.begin(), exe.begin() + 100000)},
      {"noise.txt", random_bytes(50000, 9)}, {"spaces.txt", bytes(100000, ' ')},
      {"backslashes.txt", bytes(70000, '\\')},
      {"headers.txt", files("cat /usr/include/stdio.h /usr/include/stdlib.h /usr/include/string.h", 1 << 20)},
      {"empty.dat", {}}, {"one.dat", {0x7F}}, {"r99.dat", random_bytes(99, 2)},
      {"r100.dat", random_bytes(100, 3)}, {"r101.dat", random_bytes(101, 4)},
      {"r10k.dat", random_bytes(10000, 5)}, {"exe.dat", exe},
      {"libc.dat", read_bytes("/usr/lib/x86_64-linux-gnu/libc.so.6", 100000)},
      {"kinds.dat", pin_mixed(150000, 7, 5000)},  // audio, image, records...
      {"prose.dat", text_sample(40000, 6)}, {"zeros.dat", bytes(200000, 0)},
      {"records.dat", as_bytes(records)},
      {"tar.dat", files("tar -cf - -C /usr/include/linux . 2>/dev/null", 200000)},
  };
  for (const auto& [name, data] : cases) {
    const std::string ext = name.substr(name.size() - 4);
    const bytes packed = cli_round_trip(name, ext == ".txt" ? "text" : "mixed", data);
    // Headers and a tar of sources: a third and a quarter of their size.
    if (name == "headers.txt" || name == "tar.dat") {
      EXPECT_LT(packed.size(), data.size() / (name == "tar.dat" ? 4 : 3));
    }
  }
}

// Any other name: the content picks the method. What does not compress,
// and what its method did not shrink, is stored with its length and
// checksum.
TEST(Methods, TheContentPicksTheMethodOfOtherNames) {
  const bytes exe = read_bytes("/proc/self/exe", 400000);
  const struct {
    const char* name;
    bytes data;
    const char* start;
    const char* restore;
  } cases[] = {
      {"prose.md", text_sample(100000, 21), "Compressing text (by content)", "Decompressing text"},
      {"notes.TXT", text_sample(5000, 22), "Compressing mixed (by content)", "Decompressing mixed"},
      {"program", exe, "Compressing mixed (by content)", "Decompressing mixed"},
      {"table.csv", files("seq -w 1 40000 | paste -d, - - - -", 1 << 20),
       "Compressing mixed (by content)", "Decompressing mixed"},
      {"noise.bin", random_bytes(1 << 20, 1), "Storing (does not compress)", "Decompressing stored"},
      {"packed.gz", files("gzip -c /proc/self/exe", 1 << 20), "Storing (does not compress)",
       "Decompressing stored"},
      // Too short to tell, and then not shrunk by its method.
      {"empty.bin", {}, "Compressing mixed (by content)", "Decompressing stored"},
      {"one.bin", {0x42}, "Compressing mixed (by content)", "Decompressing stored"},
      {"all.bin", every_byte(), "Compressing mixed (by content)", "Decompressing stored"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bytes packed = cli_round_trip_lines(c.name, c.data, c.start, c.restore);
    if (std::string(c.restore) == "Decompressing stored") {
      // Method 6, the 64-bit length, the data, "VSK2" and its XXH3.
      ASSERT_EQ(packed.size(), c.data.size() + 24);
      EXPECT_EQ(get_u32(packed.data()), 6u);
      EXPECT_EQ(get_u64(&packed[4]), c.data.size());
      EXPECT_TRUE(bytes(packed.begin() + 12, packed.end() - 12) == c.data);
      EXPECT_EQ(get_u32(&packed[packed.size() - 12]), get_u32(as_bytes("VSK2").data()));
      EXPECT_EQ(get_u64(&packed[packed.size() - 8]), XXH3_64bits(c.data.data(), c.data.size()));
    }
  }
}

// A cut, a flip and a foreign file against a stored archive are refused,
// by -d and by -t, with nothing left behind; the archives of earlier
// versions (method 0) still decode, and -t says that they carry no check.
TEST(Methods, StoredArchivesAreChecked) {
  scratch_dir d;
  const bytes data = random_bytes(3000, 31);
  write_bytes(d.path("in"), data);
  ASSERT_EQ(run_vesk({"-q", "-c", d.path("in"), d.path("good")}).status, 0);
  const bytes good = read_bytes(d.path("good"));
  bytes flipped = good, zeros(100, 0), old = {0, 0, 0, 0};
  flipped[1500] ^= 0x04;
  old.insert(old.end(), data.begin(), data.end());
  const std::pair<const char*, bytes> bad[] = {
      {"cut", bytes(good.begin(), good.begin() + 2000)}, {"flipped", flipped},
      {"cut trailer", bytes(good.begin(), good.end() - 1)},
      {"foreign", as_bytes("#!/bin/sh\necho hello\n")}, {"length", [&] {
         bytes b = good;
         b[4] ^= 1;
         return b;
       }()}};
  for (const auto& [what, archive] : bad) {
    SCOPED_TRACE(what);
    write_bytes(d.path("bad"), archive);
    for (const char* mode : {"-d", "-t"}) {
      const run_result r = run_vesk(mode[1] == 'd' ? std::vector<std::string>{mode, d.path("bad"), d.path("out")}
                                                   : std::vector<std::string>{mode, d.path("bad")});
      EXPECT_TRUE(is_refusal(r)) << mode << ": " << r.status << " " << r.out;
      EXPECT_FALSE(exists(d.path("out")));
      EXPECT_EQ(list_dir(d.dir).size(), 3u);  // in, good, bad: no temporary
    }
  }
  for (const auto& [what, archive, restored] :
       {std::tuple<const char*, bytes, bytes>{"old", old, data}, {"zeros", zeros, bytes(96, 0)}}) {
    SCOPED_TRACE(what);
    write_bytes(d.path("old"), archive);
    const run_result x = run_vesk({"-d", d.path("old"), d.path("out")});
    EXPECT_EQ(x.status, 0);
    EXPECT_EQ(x.out, "Decompressing default\n");
    EXPECT_TRUE(read_bytes(d.path("out")) == restored);
    const run_result t = run_vesk({"-t", d.path("old"), d.path("good")});
    EXPECT_EQ(t.status, 2);
    EXPECT_EQ(t.out, "vesk: " + d.path("old") +
                         " carries no check (a stored archive of an earlier version): it was not "
                         "verified\n");
    std::remove(d.path("out").c_str());
  }
  EXPECT_EQ(run_vesk({"-t", d.path("good")}).status, 0);
}

// Through the binary, whose decoder codes two streams at a time: a flipped
// byte anywhere is refused, the existing output untouched, no temporary left.
TEST(Methods, DamagedArchivesLeaveNothingBehind) {
  std::mt19937 g(3);
  scratch_dir d;
  for (const char* name : {"d.txt", "d.dat"}) {
    const bytes good = cli_round_trip(name, name[2] == 't' ? "text" : "mixed", text_sample(20000, 4));
    for (int trial = 0; trial < 4; trial++) {
      bytes b = good;
      const size_t at = 4 + g() % (b.size() - 4);
      b[at] ^= static_cast<uint8_t>(1 + g() % 255);
      write_bytes(d.path("packed"), b);
      write_bytes(d.path("kept"), {1, 2, 3});
      const run_result r = run_vesk({"-d", d.path("packed"), d.path("kept")});
      EXPECT_TRUE(is_refusal(r)) << name << " flip at " << at << ": " << r.status << ": " << r.out;
      EXPECT_EQ(read_bytes(d.path("kept")), (bytes{1, 2, 3}));
      EXPECT_EQ(list_dir(d.dir).size(), 2u);  // no temporary left
    }
  }
}

// More than 16512 + 999999 distinct words cannot be ordered: such a text is
// coded with the mixed method, with a note on standard error.
TEST(Methods, TooManyDistinctWordsAreCodedWithTheMixedMethod) {
  std::string s;
  for (int i = 0; i < 1'100'000; i++) s += letter_word(i) + ' ';
  const bytes text = as_bytes(s);
  scratch_dir d;
  write_bytes(d.path("big.txt"), text);
  const run_result c = run_vesk({"-c", d.path("big.txt"), d.path("packed")});
  ASSERT_EQ(c.status, 0) << c.out;
  EXPECT_NE(c.out.find("Compressing text\n"), std::string::npos) << c.out;
  EXPECT_NE(c.out.find("vesk: note: the text method cannot code " + d.path("big.txt") +
                       " (more than 1016511 distinct words); it is coded with the mixed method"),
            std::string::npos)
      << c.out;
  EXPECT_EQ(get_u32(read_bytes(d.path("packed")).data()), 2u);  // the method word says mixed
  const run_result x = run_vesk({"-d", d.path("packed"), d.path("out")});
  ASSERT_EQ(x.status, 0) << x.out;
  EXPECT_EQ(x.out, "Decompressing mixed\n");
  EXPECT_TRUE(read_bytes(d.path("out")) == text);
}

}  // namespace
}  // namespace vesk::test
