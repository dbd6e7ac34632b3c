// An input beyond what a single archive holds, through pipes both ways.
#include <gtest/gtest.h>

#include "support/support.h"

namespace vesk::test {
namespace {

TEST(FramesBig, MoreThanASingleArchiveThroughPipes) {
  // 1,001,000,100 bytes of counting numbers: every frame differs, so a frame
  // out of place would not restore the same bytes.
  // (seq ends by SIGPIPE when head has its bytes: not a failure.)
  const std::string input = "(set +o pipefail; seq 1 200000000 | head -c 1001000100)";
  const std::string v = vesk_command({});
  split_result r = run_split("bash -c \"set -o pipefail; " + input + " | " + v +
                             " -q --method=stored -T2 | " + v + " -q -d -T2 | cmp - <(" + input +
                             ")\"");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace vesk::test
