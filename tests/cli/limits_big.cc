// Inputs at and beyond what a single archive holds: about 1 GB each, so
// they run one at a time under the bigmem lock.
#include <gtest/gtest.h>

#include "support/support.h"

namespace vesk::test {
namespace {

// The largest input the driver accepts, stored: its archive (24 bytes over
// the input limit) must decode. A sparse file with marks at both ends, so
// that a shift or a cut shows.
TEST(StoredLimit, LargestInputRoundTrips) {
  scratch_dir d;
  const std::string in = d.path("largest"), packed = d.path("packed"), out = d.path("out");
  ASSERT_EQ(run_shell("truncate -s 1001000000 '" + in + "' && printf head | dd of='" + in +
                      "' conv=notrunc status=none && printf tail | dd of='" + in +
                      "' bs=1 seek=1000999996 conv=notrunc status=none").status, 0);
  EXPECT_EQ(run_vesk({"--method=stored", "-c", in, packed}).out, "Storing (--method)\n");
  EXPECT_EQ(run_vesk({"-d", packed, out}).out, "Decompressing stored\n");
  EXPECT_EQ(run_shell("cmp -s '" + in + "' '" + out + "'").status, 0);
  // An archive of earlier versions (method word 0) one byte longer than
  // any of them.
  ASSERT_EQ(run_shell("rm '" + packed + "' '" + out + "' && truncate -s 1001000005 '" + packed + "'").status, 0);
  const run_result r = run_vesk({"-d", packed, out});
  EXPECT_TRUE(is_refusal(r)) << r.out;
  EXPECT_NE(r.out.find("longer than any stored file"), std::string::npos) << r.out;
  EXPECT_FALSE(exists(out));
}

// 1,001,000,100 bytes of counting numbers through pipes both ways: every
// frame differs, so a frame out of place would not restore the same bytes.
// (seq ends by SIGPIPE when head has its bytes: not a failure.)
TEST(FramesBig, MoreThanASingleArchiveThroughPipes) {
  const std::string input = "(set +o pipefail; seq 1 200000000 | head -c 1001000100)";
  const std::string v = vesk_command({});
  const run_result r = run_split("bash -c \"set -o pipefail; " + input + " | " + v +
                                 " -q --method=stored -T2 | " + v + " -q -d -T2 | cmp - <(" +
                                 input + ")\"");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace vesk::test
