// The three methods end to end through the built binary: round trips of
// varied files, a text the text method cannot code, and damaged archives
// refused with nothing left behind. (The containers' layout is pinned by
// the frozen archives; tests/driver sweeps the damage itself in-process.)
#include <gtest/gtest.h>

#include <random>

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
      {"empty.bin", {}}, {"one.bin", {0x42}}, {"all.bin", every_byte()},
      {"noise.bin", random_bytes(1 << 20, 1)},
  };
  for (const auto& [name, data] : cases) {
    const std::string ext = name.substr(name.size() - 4);
    const std::string word = ext == ".txt" ? "text" : ext == ".dat" ? "mixed" : "default";
    const bytes packed = cli_round_trip(name, word, data);
    if (word == "default") {
      bytes expected = {0, 0, 0, 0};
      expected.insert(expected.end(), data.begin(), data.end());
      EXPECT_TRUE(packed == expected) << name;
    }
    // Headers and a tar of sources: a third and a quarter of their size.
    if (name == "headers.txt" || name == "tar.dat") {
      EXPECT_LT(packed.size(), data.size() / (name == "tar.dat" ? 4 : 3));
    }
  }
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
  EXPECT_NE(c.out.find("Note: the text method cannot code " + d.path("big.txt") +
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
