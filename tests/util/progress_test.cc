// The progress line's text: percent, rate in the file's bytes, time left.
#include "util/progress.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(Progress, LinesSizesAndDurations) {
  // name, size, coding, fraction, seconds, file bytes
  const std::pair<progress_view, const char*> cases[] = {
      // A quarter of an 8 MB file's streams in 10 s: 0.2 MB/s, 30 s to go.
      {{"x86", 4'200'000, true, 0.25, 10.0, 8'000'000}, "x86 4.2 MB  25%  0.2 MB/s  30s left"},
      // 60% of 500 MB in 100 s: 3 MB/s, 66.7 s to go.
      {{"word codes", 300'000'000, true, 0.6, 100.0, 500'000'000},
       "word codes 300.0 MB  60%  3.0 MB/s  1m07s left"},
      // Below 0.1 MB/s the rate is given in KB/s.
      {{"binary", 2'000'000, true, 0.1, 50.0, 2'000'000}, "binary 2.0 MB  10%  4 KB/s  7m30s left"},
      // No rate before the first byte or the first moment.
      {{"period", 999, true, 0.0, 3.0, 1000}, "period 999 B  0%"},
      {{"text", 5000, true, 0.5, 0.0, 1000}, "text 5.0 KB  50%"},
      // The fraction is clamped to the whole run.
      {{"text", 1000, true, 1.5, 2.0, 2'000'000}, "text 1.0 KB  100%  1.0 MB/s  0s left"},
      {{"text", 1000, true, -0.5, 2.0, 2'000'000}, "text 1.0 KB  0%"},
      // A phase gives its time so far.
      {{"text transform", 1'234'567'890, false, 0, 12.4, 0}, "text transform 1.23 GB  12s"},
  };
  for (const auto& [view, line] : cases) EXPECT_EQ(progress_line(view), line);
  const std::pair<int64_t, const char*> sizes[] = {
      {0, "0 B"},           {999, "999 B"},           {1000, "1.0 KB"},
      {999'949, "999.9 KB"}, {999'950, "1.0 MB"},       {999'949'999, "999.9 MB"},
      {999'950'000, "1.00 GB"}, {1'000'999'999, "1.00 GB"}};
  for (const auto& [n, text] : sizes) EXPECT_EQ(size_text(n), text) << n;
  const std::pair<double, const char*> durations[] = {
      {-3, "0s"},       {0.4, "0s"},       {59.4, "59s"},     {59.6, "1m00s"},
      {61, "1m01s"},    {3599, "59m59s"},  {3725, "1h02m"},   {100 * 3600 + 59 * 60, "100h59m"}};
  for (const auto& [s, text] : durations) EXPECT_EQ(duration_text(s), text) << s;
}

}  // namespace
}  // namespace vesk
