// The driver's rules: the framed archive's records, cut rules and content
// test, the method a file's name picks, and the memory a run needs.
#include <gtest/gtest.h>

#include <tuple>

#include "driver/classify.h"
#include "driver/frames.h"
#include "driver/memory_need.h"
#include "driver/method.h"
#include "support/support.h"

namespace vesk {
namespace {

using test::as_bytes;
using test::bytes;
using test::every_byte;
using test::random_bytes;
using test::text_sample;

TEST(FrameRecords, RoundTripAndEveryFlipIsCaught) {
  const frame_header h{7, 2, 64'000'000, 12'345'678, 0x0123456789ABCDEF};
  const frame_end e{8, 512'000'001, 0xFEDCBA9876543210};
  uint8_t hb[frame_record_bytes], eb[frame_record_bytes];
  put_frame_header(hb, h);
  put_frame_end(eb, e);
  const char* why = nullptr;
  const auto rh = get_frame_record(hb, &why), re = get_frame_record(eb, &why);
  ASSERT_TRUE(rh && !rh->is_end && re && re->is_end);
  const auto& [index, method_word, original, coded, hash] = rh->header;
  EXPECT_EQ(std::tie(index, method_word, original, coded, hash),
            std::tie(h.index, h.method_word, h.original, h.coded, h.hash));
  EXPECT_EQ(std::tie(re->end.count, re->end.total, re->end.hash), std::tie(e.count, e.total, e.hash));
  // Any single flipped bit, in any field or in the check, is refused.
  for (uint8_t* rec : {hb, eb}) {
    for (int byte = 0; byte < frame_record_bytes; byte++) {
      for (int bit = 0; bit < 8; bit++) {
        rec[byte] ^= static_cast<uint8_t>(1 << bit);
        EXPECT_FALSE(get_frame_record(rec, &why)) << byte << ":" << bit;
        rec[byte] ^= static_cast<uint8_t>(1 << bit);
      }
    }
  }
}

// Text at a line end or between words; mixed data on whole blocks.
TEST(FrameCuts, TextAtALineEndOrBetweenWordsMixedOnWholeBlocks) {
  // Frames of 640 bytes: a cut may come up to 10 bytes early.
  const std::string a(640, 'a');
  auto at = [&](int64_t i, char c) {
    std::string t = a + a;
    t[static_cast<size_t>(i)] = c;
    return t;
  };
  const std::tuple<std::string, bool, int64_t> cases[] = {  // text, last frame, cut
      {"", true, 0},
      {"abc", true, 3},             // the rest of the input
      {a, true, 640},               // exactly one frame
      {at(634, '\n'), false, 635},  // after a line end within the last 1/64
      {at(634, ' '), false, 635},   // else after a byte that is no part of a word
      {at(600, '\n'), false, 640},  // a line end too far back: at the size
      {at(634, '\n'), true, 635},   // the input goes on beyond the frame
      {a + a, false, 640},          // no break at all
  };
  for (const auto& [text, last, cut] : cases) {
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    EXPECT_EQ(text_frame_cut(p, static_cast<int64_t>(text.size()), 640, last), cut) << text.size();
  }
  for (const auto& [size, last, cut] : {std::tuple{1000, false, 1000}, {70000, false, 65500},
                                        {65537, true, 65500}, {65000, true, 65000}, {0, true, 0}})
    EXPECT_EQ(mixed_frame_cut(size, 65536, last), cut) << size;
}

TEST(FrameCuts, DefaultSizeGivesEvenFrames) {
  // The default cuts a file into the frames it means to, whether each cut
  // comes at the frame size or up to 1/64 early: the last is never an
  // extra runt.
  constexpr int64_t mib = int64_t{1} << 20;
  EXPECT_EQ(default_frame_size(-1), 64 * mib);
  const std::pair<int64_t, int64_t> cases[] = {  // size, frames
      {0, 1},          {1000, 1},        {20 * mib, 1},    {64 * mib - 1, 1},
      {64 * mib, 2},   {117'308'864, 2}, {150'000'000, 2}, {256 * mib, 2},
      {256 * mib + 1, 3}, {int64_t{1} << 30, 8}, {int64_t{3} << 30, 24}};
  for (const auto& [size, frames] : cases) {
    const int64_t f = default_frame_size(size);
    EXPECT_TRUE(f == frame_size_least || (f > frame_size_least && f % 100 == 0)) << f;
    const int64_t late = (size + f - 1) / f, early = (size + f - f / 64 - 1) / (f - f / 64);
    EXPECT_EQ(std::max<int64_t>(late, 1), frames) << size;
    EXPECT_EQ(std::max<int64_t>(early, 1), frames) << size;
  }
}

// The classifier over small samples of each kind: stored for what does
// not compress, text for prose and large plain text, mixed for the rest.
TEST(Classifier, PicksTheMethodOfEachKindOfSample) {
  auto repeat = [](const std::string& line, size_t n) {
    std::string s;
    for (int i = 0; s.size() < n; i++) s += std::to_string(i * 7919 % 100000) + line;
    return as_bytes(s);
  };
  auto join = [](bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const bytes headers = test::read_bytes("/usr/include/stdio.h");
  bytes big_source;  // plain text of 2 MiB and more, but no prose
  while (big_source.size() < (size_t{3} << 20)) big_source = join(big_source, headers);
  bytes controls = text_sample(10000, 4);
  for (size_t i = 0; i < 120; i++) controls[80 * i] = 0x01;  // 1.2% controls
  bytes one_zero = text_sample(10000, 5);
  one_zero[5000] = 0;
  const bytes gzipped = [] {
    test::scratch_dir d;
    test::write_bytes(d.path("t"), text_sample(300000, 6));
    EXPECT_EQ(test::run_shell("gzip -9 '" + d.path("t") + "'").status, 0);
    return test::read_bytes(d.path("t.gz"));
  }();
  const struct {
    const char* what;
    bytes data;
    method m;
  } cases[] = {
      {"prose", text_sample(200000, 1), method::text},
      {"prose of 64 KiB", text_sample(65536, 2), method::text},
      {"prose of 60 KB", text_sample(60000, 2), method::mixed},
      {"C headers", headers, method::mixed},
      {"3 MiB of C headers", big_source, method::text},
      {"a table", repeat(";0041;LATIN CAPITAL;Lu;0;L;;;;;N;;;0061;\n", 400000), method::mixed},
      {"a log", repeat(" 2026-12-08 07:27:41 status installed libfoo:amd64 1.2-3\n", 300000),
       method::mixed},
      {"1.2% controls", controls, method::mixed},
      {"a zero byte", one_zero, method::mixed},
      {"zeros", bytes(100000, 0), method::mixed},
      {"machine code", test::read_bytes("/proc/self/exe", 300000), method::mixed},
      {"every byte value", every_byte(), method::mixed},
      {"random", random_bytes(1 << 20, 7), method::stored},
      {"2 KB of random", random_bytes(2048, 8), method::stored},
      {"random below 1 KiB", random_bytes(1000, 9), method::mixed},  // too little to tell
      {"gzip", gzipped, method::stored},
      {"random with a text head", join(text_sample(40000, 10), random_bytes(4 << 20, 11)),
       method::stored},
      {"text with a random tail", join(text_sample(600000, 12), random_bytes(400000, 13)),
       method::mixed},
      {"empty", {}, method::mixed},
  };
  for (const auto& c : cases)
    EXPECT_EQ(method_by_content(c.data.data(), static_cast<int64_t>(c.data.size())), c.m) << c.what;
}

// A sample, never the whole input: 32 chunks of 32 KiB at most, from the
// input's start to its end.
TEST(Classifier, ReadsASampleSpreadOverTheInput) {
  for (const int64_t size : {int64_t{1000}, int64_t{1} << 20, (int64_t{1} << 20) + 1,
                             int64_t{100'000'000}, int64_t{1'000'000'000'000}}) {
    int64_t read = 0, first = -1, last = 0;
    method_by_content(size, [&](int64_t at, int64_t n, uint8_t* dst) {
      EXPECT_GE(at, 0);
      EXPECT_LE(at + n, size);
      std::fill(dst, dst + n, 'a');
      read += n;
      if (first < 0) first = at;
      last = at + n;
    });
    EXPECT_EQ(read, std::min<int64_t>(size, int64_t{1} << 20)) << size;
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, size);
  }
  // Its fixed-point logarithms.
  const std::pair<uint64_t, int64_t> logs[] = {
      {1, 0}, {2, 65536}, {3, 103872}, {255, 523917}, {uint64_t{1} << 40, int64_t{40} << 16}};
  for (const auto& [x, q16] : logs) EXPECT_EQ(log2_q16(x), q16) << x;
}

TEST(MethodChoice, ByTheLastDotOfTheWholeArgument) {
  EXPECT_EQ(method_for_name("archive"), std::nullopt);  // the content decides
  EXPECT_EQ(method_for_name("notes.TXT"), std::nullopt);  // case-sensitive
  EXPECT_EQ(method_for_name("a.txt.gz"), std::nullopt);   // only the last dot
  EXPECT_EQ(method_for_name("dir.txt/readme"), method::text);
  EXPECT_EQ(method_for_name("log.txtold"), method::text);  // four characters only
  EXPECT_EQ(method_for_name("x.dat2"), method::mixed);
  EXPECT_EQ(method_for_name("x.tx"), std::nullopt);
  EXPECT_EQ(method_for_name("notes.txt"), method::text);
  EXPECT_EQ(method_for_name("/tmp/data.dat"), method::mixed);
  EXPECT_EQ(method_for_name("."), std::nullopt);
  EXPECT_EQ(method_for_name(""), std::nullopt);
}

// The estimates grow with the file, never fall below a small run's needs,
// never exceed what the largest input could need, and a run's address
// space is at least the memory it touches.
TEST(MemoryNeed, EstimatesGrowAndStayBoundedAndWarnWhenShort) {
  for (method m : {method::stored, method::text, method::mixed}) {
    memory_need last{0, 0};
    for (int64_t n = 0; n < 1'001'000'001; n = n * 3 + 1000) {
      const memory_need e = expected_memory(m, n);
      EXPECT_GE(e.resident, last.resident) << n;
      EXPECT_GE(e.address_space, last.address_space) << n;
      EXPECT_GE(e.address_space, e.resident) << n;
      EXPECT_GT(e.resident, 1'000'000) << n;
      EXPECT_LE(e.address_space, int64_t{24'000'000'000}) << n;
      last = e;
    }
  }
  // A 1 KB file fits in tens of megabytes; the models' tables dwarf the
  // stored method's copy of a file of 20 MB.
  EXPECT_LT(expected_memory(method::text, 1000).address_space, 100'000'000);
  EXPECT_GT(expected_memory(method::mixed, 20'000'000).resident,
            10 * expected_memory(method::stored, 20'000'000).resident);
  const memory_need need{3'200'000'000, 5'000'000'000};
  const std::tuple<int64_t, int64_t, const char*> cases[] = {  // cgroup room, available
      {-1, -1, ""},
      {4'000'000'000, 8'000'000'000, ""},
      {2'000'000'000, 8'000'000'000,
       "warning: this file may need about 3.2 GB of memory; the memory limit of its cgroup leaves "
       "2.0 GB"},
      {-1, 1'500'000'000,
       "warning: this file may need about 3.2 GB of memory; only 1.5 GB is available"},
      {2'000'000'000, 1'000'000'000,  // the cgroup is named first
       "warning: this file may need about 3.2 GB of memory; the memory limit of its cgroup leaves "
       "2.0 GB"},
  };
  for (const auto& [room, available, warning] : cases) {
    // Address space is refused when it comes, not warned of.
    const memory_limits l{1'000'000'000, -1, room, available};
    EXPECT_EQ(memory_warning(need, l), warning) << room << " " << available;
  }
}

}  // namespace
}  // namespace vesk
