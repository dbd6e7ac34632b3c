// The driver's rules: the framed archive's records, cut rules and content
// test, the method a file's name picks, and the memory a run needs.
#include <gtest/gtest.h>

#include <tuple>

#include "driver/frames.h"
#include "driver/memory_need.h"
#include "driver/method.h"

namespace vesk {
namespace {

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

TEST(FrameMethod, ByContent) {
  auto of = [](const std::string& s) {
    return method_by_content(reinterpret_cast<const uint8_t*>(s.data()),
                             static_cast<int64_t>(s.size()));
  };
  EXPECT_EQ(of("plain text\twith tabs\r\nand lines\n"), method::text);
  EXPECT_EQ(of("caf\xc3\xa9 na\xc3\xafve\n"), method::text);
  EXPECT_EQ(of(std::string("binary\0data", 11)), method::mixed);
  std::string one_zero(1000, 'a');  // one zero byte is binary, whatever the rest
  one_zero[500] = '\0';
  EXPECT_EQ(of(one_zero), method::mixed);
  std::string noisy(1000, 'a');
  for (int i = 0; i < 11; i++) noisy[static_cast<size_t>(90 * i)] = '\x01';
  EXPECT_EQ(of(noisy), method::mixed);
  noisy[0] = 'a';
  EXPECT_EQ(of(noisy), method::text);  // ten controls in a thousand bytes
}

TEST(MethodChoice, ByTheLastDotOfTheWholeArgument) {
  EXPECT_EQ(method_for_name("archive"), method::stored);
  EXPECT_EQ(method_for_name("notes.TXT"), method::stored);  // case-sensitive
  EXPECT_EQ(method_for_name("a.txt.gz"), method::stored);   // only the last dot
  EXPECT_EQ(method_for_name("dir.txt/readme"), method::text);
  EXPECT_EQ(method_for_name("log.txtold"), method::text);  // four characters only
  EXPECT_EQ(method_for_name("x.dat2"), method::mixed);
  EXPECT_EQ(method_for_name("x.tx"), method::stored);
  EXPECT_EQ(method_for_name("notes.txt"), method::text);
  EXPECT_EQ(method_for_name("/tmp/data.dat"), method::mixed);
  EXPECT_EQ(method_for_name("."), method::stored);
  EXPECT_EQ(method_for_name(""), method::stored);
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
       "Warning: vesk may need about 3.2 GB of memory for this file; the memory limit of its "
       "cgroup leaves 2.0 GB\n"},
      {-1, 1'500'000'000,
       "Warning: vesk may need about 3.2 GB of memory for this file; only 1.5 GB is available\n"},
      {2'000'000'000, 1'000'000'000,  // the cgroup is named first
       "Warning: vesk may need about 3.2 GB of memory for this file; the memory limit of its "
       "cgroup leaves 2.0 GB\n"},
  };
  for (const auto& [room, available, warning] : cases) {
    // Address space is refused when it comes, not warned of.
    const memory_limits l{1'000'000'000, -1, room, available};
    EXPECT_EQ(memory_warning(need, l), warning) << room << " " << available;
  }
}

}  // namespace
}  // namespace vesk
