// The framed archive's records, cut rules and content test.
#include "driver/frames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesk {
namespace {

TEST(FrameRecords, RoundTripAndEveryFlipIsCaught) {
  const frame_header h{7, 2, 64'000'000, 12'345'678, 0x0123456789ABCDEF};
  const frame_end e{8, 512'000'001, 0xFEDCBA9876543210};
  uint8_t hb[frame_record_bytes], eb[frame_record_bytes];
  put_frame_header(hb, h);
  put_frame_end(eb, e);
  const char* why = nullptr;
  const auto rh = get_frame_record(hb, &why);
  ASSERT_TRUE(rh && !rh->is_end);
  EXPECT_EQ(rh->header.index, h.index);
  EXPECT_EQ(rh->header.method_word, h.method_word);
  EXPECT_EQ(rh->header.original, h.original);
  EXPECT_EQ(rh->header.coded, h.coded);
  EXPECT_EQ(rh->header.hash, h.hash);
  const auto re = get_frame_record(eb, &why);
  ASSERT_TRUE(re && re->is_end);
  EXPECT_EQ(re->end.count, e.count);
  EXPECT_EQ(re->end.total, e.total);
  EXPECT_EQ(re->end.hash, e.hash);
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

TEST(FrameCuts, TextAtALineEndOrBetweenWords) {
  struct cut_case {
    std::string text;
    int64_t want;
    bool last;
    int64_t expected;
  };
  const std::vector<cut_case> cases = {
      {"", 10, true, 0},
      {"abc", 10, true, 3},                          // the rest of the input
      {"abcdefghijklmn\nop", 16, false, 15},          // after the line end within the last eighth
      {"abcdefghijklmnop\nq", 16, false, 16},        // no line end, no break: at the size
      {"aaaaaaaaaaaaaa bcdefg", 16, false, 15},      // after the space
      {"aaaaa\naaaaaaaaaaaaaaaaa", 16, false, 16},   // a line end too far back
      {"aaaaaaaaaaaaaa\nbcdefg", 16, true, 15},      // the input goes on beyond the size
      {"aaaaaaaaaaaaaaaa", 16, true, 16},            // exactly one frame
  };
  for (const auto& c : cases) {
    const auto* p = reinterpret_cast<const uint8_t*>(c.text.data());
    EXPECT_EQ(text_frame_cut(p, static_cast<int64_t>(c.text.size()), c.want, c.last), c.expected)
        << c.text;
  }
}

TEST(FrameCuts, MixedOnWholeBlocks) {
  EXPECT_EQ(mixed_frame_cut(1000, 65536, false), 1000);
  EXPECT_EQ(mixed_frame_cut(70000, 65536, false), 65500);
  EXPECT_EQ(mixed_frame_cut(65537, 65536, true), 65500);
  EXPECT_EQ(mixed_frame_cut(65000, 65536, true), 65000);
  EXPECT_EQ(mixed_frame_cut(0, 65536, true), 0);
}

TEST(FrameMethod, ByContent) {
  auto of = [](const std::string& s) {
    return method_by_content(reinterpret_cast<const uint8_t*>(s.data()),
                             static_cast<int64_t>(s.size()));
  };
  EXPECT_EQ(of("plain text\twith tabs\r\nand lines\n"), method::text);
  EXPECT_EQ(of("caf\xc3\xa9 na\xc3\xafve\n"), method::text);
  EXPECT_EQ(of(std::string("binary\0data", 11)), method::mixed);
  std::string noisy(1000, 'a');
  for (int i = 0; i < 11; i++) noisy[static_cast<size_t>(90 * i)] = '\x01';
  EXPECT_EQ(of(noisy), method::mixed);
  noisy[0] = 'a';
  EXPECT_EQ(of(noisy), method::text);  // ten controls in a thousand bytes
}

}  // namespace
}  // namespace vesk
