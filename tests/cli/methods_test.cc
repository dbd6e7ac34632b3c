// The three methods end to end through the built binary: round trips of
// varied files, a text the text method cannot code, and damaged archives
// refused with nothing left behind. (The containers' layout is pinned by
// the frozen archives; tests/driver sweeps the damage itself in-process.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "support/support.h"
#include "util/bytes.h"

namespace vesk::test {
namespace {

// A 16-bit stereo sine sweep, like uncompressed audio.
bytes audio(size_t samples) {
  bytes b;
  for (size_t i = 0; i < samples; i++) {
    double t = static_cast<double>(i) / 44100.0;
    auto v = static_cast<int16_t>(12000 * std::sin(2 * M_PI * (200 + 300 * t) * t));
    for (int ch = 0; ch < 4; ch++) b.push_back(static_cast<uint8_t>(ch % 2 ? v >> 8 : v));
  }
  return b;
}

// An RGB gradient with noise, like an uncompressed image.
bytes image(int w, int h) {
  std::mt19937 g(4);
  bytes b;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w * 3; x++) b.push_back(static_cast<uint8_t>(x / 3 * (x % 3 + 1) + y * 2 + g() % 4));
  return b;
}

// Record blocks whose stride changes every few hundred bytes.
bytes changing_records() {
  bytes b;
  for (int stride : {8, 12, 20, 36, 64, 16})
    for (int i = 0; i < 600; i++)
      b.push_back(static_cast<uint8_t>(i % stride == 0 ? i / stride : i % stride * 9));
  return b;
}

bytes source_tree_tar(size_t most) {
  scratch_dir d;
  EXPECT_EQ(std::system(("tar -cf '" + d.path("t") + "' -C /usr/include/linux . 2>/dev/null").c_str()), 0);
  return read_bytes(d.path("t"), most);
}

bytes headers() {
  bytes src;
  for (const char* f : {"/usr/include/stdio.h", "/usr/include/stdlib.h", "/usr/include/string.h"}) {
    const bytes b = read_bytes(f);
    src.insert(src.end(), b.begin(), b.end());
  }
  return src;
}

TEST(Methods, RoundTripsOfVariedFiles) {
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
  const struct {
    const char* name;
    bytes data;
  } cases[] = {
      {"empty.txt", {}}, {"space.txt", as_bytes(" ")}, {"x.txt", as_bytes("x")},
      {"hello.txt", as_bytes("Hello")}, {"upper.txt", as_bytes(upper)}, {"tabs.txt", as_bytes(tabs)},
      {"digits.txt", as_bytes(digits)}, {"words.txt", as_bytes(words)},
      {"prose.txt", text_sample(200000, 3)},
      {"exe.txt", read_bytes("/proc/self/exe", 100000)},  // binary data named .txt
      {"noise.txt", random_bytes(50000, 9)}, {"spaces.txt", bytes(100000, ' ')},
      {"backslashes.txt", bytes(70000, '\\')},
      {"headers.txt", headers()},
      {"empty.dat", {}}, {"one.dat", {0x7F}},
      {"r99.dat", random_bytes(99, 2)}, {"r100.dat", random_bytes(100, 3)},
      {"r101.dat", random_bytes(101, 4)}, {"r10k.dat", random_bytes(10000, 5)},
      {"exe.dat", read_bytes("/proc/self/exe", 150000)},
      {"libc.dat", read_bytes("/usr/lib/x86_64-linux-gnu/libc.so.6", 100000)},
      {"image.dat", image(200, 100)}, {"audio.dat", audio(20000)},
      {"prose.dat", text_sample(40000, 6)}, {"zeros.dat", bytes(200000, 0)},
      {"records.dat", changing_records()}, {"tar.dat", source_tree_tar(200000)},
      {"empty.bin", {}}, {"one.bin", {0x42}}, {"all.bin", every_byte()},
      {"noise.bin", random_bytes(1 << 20, 1)},
  };
  for (const auto& c : cases) {
    const std::string name = c.name;
    const std::string ext = name.substr(name.size() - 4);
    const std::string word = ext == ".txt" ? "text" : ext == ".dat" ? "mixed" : "default";
    const bytes packed = cli_round_trip(name, word, c.data);
    if (word == "default") {
      bytes expected = {0, 0, 0, 0};
      expected.insert(expected.end(), c.data.begin(), c.data.end());
      EXPECT_TRUE(packed == expected) << name;
    }
    // Headers and a tar of sources: a third and a quarter of their size.
    if (name == "headers.txt" || name == "tar.dat") {
      EXPECT_LT(packed.size(), c.data.size() / (name == "tar.dat" ? 4 : 3));
    }
  }
}

// Through the binary, whose decoder codes two streams at a time: a flipped
// byte anywhere is refused, the existing output untouched, no temporary left.
TEST(Methods, DamagedArchivesLeaveNothingBehind) {
  std::mt19937 g(3);
  for (const char* name : {"d.txt", "d.dat"}) {
    const bytes good = cli_round_trip(name, name[2] == 't' ? "text" : "mixed", text_sample(20000, 4));
    for (int trial = 0; trial < 4; trial++) {
      bytes b = good;
      const size_t at = 4 + g() % (b.size() - 4);
      b[at] ^= static_cast<uint8_t>(1 + g() % 255);
      expect_clean_failure(b, std::string(name) + " flip at " + std::to_string(at));
    }
  }
}

// More than 16512 + 999999 distinct words cannot be ordered: such a text is
// coded with the mixed method, with a note on standard error.
TEST(Methods, TooManyDistinctWordsAreCodedWithTheMixedMethod) {
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
  EXPECT_EQ(get_u32(read_bytes(d.path("packed")).data()), 2u);  // the method word says mixed
  run_result x = run_vesk({"-d", d.path("packed"), d.path("out")});
  ASSERT_EQ(x.status, 0) << x.out;
  EXPECT_EQ(x.out, "Decompressing mixed\n");
  EXPECT_TRUE(read_bytes(d.path("out")) == text);
}

}  // namespace
}  // namespace vesk::test
