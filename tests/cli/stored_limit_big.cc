// The largest input the driver accepts, stored: its archive (4 bytes over
// the input limit) must decode. A sparse file keeps the test's disk and
// time small on the input side; the archive and the output are real files
// of about 1 GB each.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/support.h"

namespace vesk::test {
namespace {

int sh(const std::string& command) {
  return std::system(command.c_str());
}

TEST(StoredLimit, LargestInputRoundTrips) {
  scratch_dir d;
  const std::string in = d.path("largest"), packed = d.path("packed"), out = d.path("out");
  ASSERT_EQ(sh("truncate -s 1001000000 '" + in + "'"), 0);
  // Marks at both ends, so that a shift or a cut shows.
  ASSERT_EQ(sh("printf head | dd of='" + in + "' conv=notrunc status=none"), 0);
  ASSERT_EQ(sh("printf tail | dd of='" + in + "' bs=1 seek=1000999996 conv=notrunc status=none"), 0);
  run_result c = run_vesk({"-c", in, packed});
  ASSERT_EQ(c.status, 0) << c.out;
  EXPECT_EQ(c.out, "Compressing default\n");
  run_result x = run_vesk({"-d", packed, out});
  ASSERT_EQ(x.status, 0) << x.out;
  EXPECT_EQ(x.out, "Decompressing default\n");
  EXPECT_EQ(sh("cmp -s '" + in + "' '" + out + "'"), 0);
}

TEST(StoredLimit, LongerStoredFilesAreRefused) {
  scratch_dir d;
  const std::string packed = d.path("packed");
  // Method word 0 and one byte more than any stored file vesk writes.
  ASSERT_EQ(sh("truncate -s 1001000005 '" + packed + "'"), 0);
  run_result r = run_vesk({"-d", packed, d.path("out")});
  EXPECT_TRUE(is_refusal(r)) << r.out;
  EXPECT_NE(r.out.find("longer than any stored file"), std::string::npos) << r.out;
  EXPECT_FALSE(exists(d.path("out")));
}

}  // namespace
}  // namespace vesk::test
