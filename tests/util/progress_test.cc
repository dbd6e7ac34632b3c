// The progress line's text: percent, rate in the file's bytes, time left.
#include "util/progress.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

progress_view stream_view(const char* name, int64_t size, double fraction, double seconds,
                          int64_t file_bytes) {
  progress_view v;
  v.name = name;
  v.size = size;
  v.coding = true;
  v.fraction = fraction;
  v.seconds = seconds;
  v.file_bytes = file_bytes;
  return v;
}

TEST(Progress, StreamLineGivesPercentRateAndTimeLeft) {
  // A quarter of an 8 MB file's streams in 10 s: 0.2 MB/s, 30 s to go.
  EXPECT_EQ(progress_line(stream_view("x86", 4'200'000, 0.25, 10.0, 8'000'000)),
            "x86 4.2 MB  25%  0.2 MB/s  30s left");
  // 60% of 500 MB in 100 s: 3 MB/s, 66.7 s to go.
  EXPECT_EQ(progress_line(stream_view("word codes", 300'000'000, 0.6, 100.0, 500'000'000)),
            "word codes 300.0 MB  60%  3.0 MB/s  1m07s left");
  // Below 0.1 MB/s the rate is given in KB/s.
  EXPECT_EQ(progress_line(stream_view("binary", 2'000'000, 0.1, 50.0, 2'000'000)),
            "binary 2.0 MB  10%  4 KB/s  7m30s left");
}

TEST(Progress, NoRateBeforeTheFirstByte) {
  EXPECT_EQ(progress_line(stream_view("period", 999, 0.0, 3.0, 1000)), "period 999 B  0%");
  EXPECT_EQ(progress_line(stream_view("text", 5000, 0.5, 0.0, 1000)), "text 5.0 KB  50%");
}

TEST(Progress, FractionIsClampedToTheWholeRun) {
  EXPECT_EQ(progress_line(stream_view("text", 1000, 1.5, 2.0, 2'000'000)),
            "text 1.0 KB  100%  1.0 MB/s  0s left");
  EXPECT_EQ(progress_line(stream_view("text", 1000, -0.5, 2.0, 2'000'000)), "text 1.0 KB  0%");
}

TEST(Progress, PhaseLineGivesItsTimeSoFar) {
  progress_view v;
  v.name = "text transform";
  v.size = 1'234'567'890;
  v.seconds = 12.4;
  EXPECT_EQ(progress_line(v), "text transform 1.23 GB  12s");
}

TEST(Progress, Sizes) {
  EXPECT_EQ(size_text(0), "0 B");
  EXPECT_EQ(size_text(999), "999 B");
  EXPECT_EQ(size_text(1000), "1.0 KB");
  EXPECT_EQ(size_text(999'949), "999.9 KB");
  EXPECT_EQ(size_text(999'950), "1.0 MB");
  EXPECT_EQ(size_text(999'949'999), "999.9 MB");
  EXPECT_EQ(size_text(999'950'000), "1.00 GB");
  EXPECT_EQ(size_text(1'000'999'999), "1.00 GB");
}

TEST(Progress, Durations) {
  EXPECT_EQ(duration_text(-3), "0s");
  EXPECT_EQ(duration_text(0.4), "0s");
  EXPECT_EQ(duration_text(59.4), "59s");
  EXPECT_EQ(duration_text(59.6), "1m00s");
  EXPECT_EQ(duration_text(61), "1m01s");
  EXPECT_EQ(duration_text(3599), "59m59s");
  EXPECT_EQ(duration_text(3725), "1h02m");
  EXPECT_EQ(duration_text(100 * 3600 + 59 * 60), "100h59m");
}

}  // namespace
}  // namespace vesk
