// Black-box tests of the command line through the built binary: exit
// status, messages and the files left behind.
#include <gtest/gtest.h>

#include "support/support.h"

namespace vesk::test {
namespace {

TEST(Cli, WrongCommandLinesPrintUsage) {
  scratch_dir d;
  write_bytes(d.path("in"), {1, 2, 3});
  const std::string in = d.path("in"), out = d.path("out");
  const std::vector<std::vector<std::string>> cases = {
      {"-c", in}, {"-d", in, out, d.path("x")}, {"-c", "-d", in, out}, {"-T"}, {"-Tx", in, out},
      {"-T", "-1", in, out}, {"--threads=5000", in, out}, {"--frame-size=0", in, out},
      {"--frame-size=1000M", in, out}, {"--frame-size=63K", in, out},
      {"--frame-size=12Q", in, out}, {"--method=zip", in, out}, {"--method"},
      {"--quiet=yes", in, out}, {"--bogus", in, out},
      {"-9", "-c", in, out},  // the strong methods are not offered yet
      {"-c", in, out, "extra"}, {"-C", in, out}, {"-x", in, out}, {"-cd", in, out},
      {"c", in, out}, {"", in, out}};
  for (const auto& args : cases) {
    const run_result r = run_vesk(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Vesk version 4\nCompress:\n    ./vesk -c input output\nDecompress:\n"
                     "    ./vesk -d input output\n");
  }
  EXPECT_FALSE(exists(out));
}

// A refused input leaves no output, an existing one untouched and no
// temporary file behind.
TEST(Cli, RefusedInputsLeaveNothingBehind) {
  scratch_dir d;
  write_bytes(d.path("seven"), {7, 0, 0, 0, 1, 2, 3});
  write_bytes(d.path("short"), {0, 0, 0});
  write_bytes(d.path("empty"), {});
  // A single archive may exceed the input limit by its container's
  // overhead; beyond 1.5 GB nothing vesk writes can be.
  ASSERT_EQ(run_shell("truncate -s 1500000000 '" + d.path("big") + "'").status, 0);
  const std::pair<std::string, std::string> cases[] = {
      {"nothing", d.path("nothing") + " not found"},
      {"seven", "is not a compressed file: unknown method"},
      {"short", "is not a compressed file: too short"},
      {"empty", "is not a compressed file: too short"},
      {"big", "File " + d.path("big") + " must be less than 1.5GB"}};
  for (const auto& [in, why] : cases) {
    for (const char* flag : {"-d", in == "nothing" ? "-c" : "-d"}) {
      for (const char* out : {"out", "kept"}) {
        write_bytes(d.path("kept"), {5, 5, 5});
        const run_result r = run_vesk({flag, d.path(in), d.path(out)});
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find(why), std::string::npos) << r.out;
        EXPECT_EQ(read_bytes(d.path("kept")), (bytes{5, 5, 5}));
        EXPECT_EQ(list_dir(d.dir).size(), 5u);  // no output, no temporary
      }
    }
  }
}

}  // namespace
}  // namespace vesk::test
