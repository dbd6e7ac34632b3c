// The strong methods through the binary (-9, --best: method words 4 and
// 5): round trips of varied data, single and framed, frames that do not
// depend on the thread count, and what stays as it was (stored data).
#include <gtest/gtest.h>

#include <cstring>

#include "driver/frames.h"
#include "support/recipes.h"
#include "support/support.h"
#include "util/bytes.h"

namespace vesk::test {
namespace {

// The method words of a framed archive's frames.
std::vector<uint32_t> frame_words(const bytes& a) {
  std::vector<uint32_t> words;
  for (size_t at = 4; at + frame_record_bytes <= a.size() && std::memcmp(&a[at], "VFRM", 4) == 0;) {
    words.push_back(get_u32(&a[at + 8]));
    at += frame_record_bytes + get_u32(&a[at + 16]);
  }
  return words;
}

TEST(StrongMethods, RoundTripsSingleAndFramed) {
  const bytes exe = read_bytes("/proc/self/exe", 300000);
  const struct {
    const char* name;
    bytes data;
    const char* start;  // the start line of the single archive
    uint32_t word;
  } cases[] = {
      {"prose.txt", text_sample(150000, 1), "Compressing text -9", 4},
      {"repeats.txt", pin_repeated(40000, 500, 2), "Compressing text -9", 4},
      {"one.txt", {'v'}, "Compressing text -9", 4},
      {"empty.txt", {}, "Compressing text -9", 4},
      {"kinds.dat", pin_mixed(150000, 3, 5000), "Compressing mixed -9", 5},
      {"program", exe, "Compressing mixed -9 (by content)", 5},
      {"photo.ppm", pin_image(160, 120, 3, 4), "Compressing mixed -9 (by content)", 5},
      {"grey.pgm", pin_image(130, 90, 1, 5), "Compressing mixed -9 (by content)", 5},
      {"picture.bmp", pin_bmp(70, 50, 24, 6), "Compressing mixed -9 (by content)", 5},
      {"sound.wav", pin_wav(40000, 2, 16, 7), "Compressing mixed -9 (by content)", 5},
      {"notes.md", text_sample(80000, 8), "Compressing text -9 (by content)", 4},
      {"noise.bin", random_bytes(100000, 9), "Storing (does not compress)", 6},  // stays stored
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scratch_dir d;
    write_bytes(d.path(c.name), c.data);
    const std::string in = d.path(c.name);
    const run_result s = run_vesk({"-9", "-c", in, d.path("single")});
    ASSERT_EQ(s.status, 0) << s.out;
    EXPECT_EQ(s.out, std::string(c.start) + "\n");
    const bytes single = read_bytes(d.path("single"));
    EXPECT_EQ(get_u32(single.data()), c.word);
    const run_result x = run_vesk({"-d", d.path("single"), d.path("back")});
    ASSERT_EQ(x.status, 0) << x.out;
    if (c.word != 6) {
      EXPECT_EQ(x.out, std::string("Decompressing ") + (c.word == 4 ? "text" : "mixed") + " -9\n");
    }
    EXPECT_TRUE(read_bytes(d.path("back")) == c.data);
    // --best is -9; frames the same whatever the thread count.
    EXPECT_EQ(run_vesk({"--best", "-q", "-c", in, d.path("best")}).status, 0);
    EXPECT_TRUE(read_bytes(d.path("best")) == single);
    for (const char* t : {"-T1", "-T2"})
      EXPECT_EQ(run_vesk({"-9", "-q", t, "--frame-size=64K", "-c", in, d.path(std::string("framed") + t)}).status, 0);
    const bytes framed = read_bytes(d.path("framed-T1"));
    EXPECT_TRUE(framed == read_bytes(d.path("framed-T2")));
    for (const uint32_t w : frame_words(framed)) EXPECT_TRUE(w == 4 || w == 5 || w == 0) << w;
    EXPECT_EQ(run_vesk({"-q", "-d", d.path("framed-T1"), d.path("back2")}).status, 0);
    EXPECT_TRUE(read_bytes(d.path("back2")) == c.data);
    EXPECT_EQ(run_vesk({"-t", d.path("single"), d.path("framed-T2")}).status, 0);
  }
}

// Through pipes, as tar's compressor: every frame by its content, strong.
TEST(StrongMethods, PipesAndTar) {
  scratch_dir d;
  const bytes text = text_sample(200000, 11);
  write_bytes(d.path("in"), text);
  const std::string v = vesk_command({});
  const run_result r = run_split("cat '" + d.path("in") + "' | " + v + " -9 --frame-size=64K > '" +
                                 d.path("packed") + "' && " + v + " -d < '" + d.path("packed") +
                                 "' | cmp - '" + d.path("in") + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<uint32_t> words = frame_words(read_bytes(d.path("packed")));
  ASSERT_FALSE(words.empty());
  for (const uint32_t w : words) EXPECT_TRUE(w == 4 || w == 5) << w;
  ASSERT_EQ(run_shell("mkdir '" + d.path("src") + "' '" + d.path("out") + "' && cp '" + d.path("in") +
                      "' '" + d.path("src") + "/a.txt'").status, 0);
  const std::string filter = std::string(VESK_BIN) + " -9";
  EXPECT_EQ(run_shell("tar -I '" + filter + "' -cf '" + d.path("t.tar.vsk") + "' -C '" + d.path("src") +
                      "' . && tar -I '" VESK_BIN "' -xf '" + d.path("t.tar.vsk") + "' -C '" + d.path("out") + "'")
                .status, 0);
  EXPECT_TRUE(read_bytes(d.path("out/a.txt")) == text);
}

}  // namespace
}  // namespace vesk::test
