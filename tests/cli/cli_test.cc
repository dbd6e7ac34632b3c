// Black-box tests of the command line through the built binary: exit
// status, messages and the files left behind.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/support.h"

namespace vesk::test {
namespace {

const char* const usage =
    "Vesk version 4\nCompress:\n    ./vesk -c input output\nDecompress:\n    ./vesk -d input "
    "output\n";

TEST(Cli, WrongCommandLinesPrintUsage) {
  scratch_dir d;
  write_bytes(d.path("in"), {1, 2, 3});
  const std::vector<std::vector<std::string>> cases = {
      {"-c", d.path("in")},
      {"-d", d.path("in"), d.path("out"), d.path("x")},
      {"-c", "-d", d.path("in"), d.path("out")},
      {"-T"},
      {"-Tx", d.path("in"), d.path("out")},
      {"-T", "-1", d.path("in"), d.path("out")},
      {"--threads=5000", d.path("in"), d.path("out")},
      {"--frame-size=0", d.path("in"), d.path("out")},
      {"--frame-size=1000M", d.path("in"), d.path("out")},
      {"--frame-size=63K", d.path("in"), d.path("out")},
      {"--frame-size=12Q", d.path("in"), d.path("out")},
      {"--method=zip", d.path("in"), d.path("out")},
      {"--method"},
      {"--quiet=yes", d.path("in"), d.path("out")},
      {"--bogus", d.path("in"), d.path("out")},
      {"-9", "-c", d.path("in"), d.path("out")},  // the strong methods are not offered yet
      {"-c", d.path("in"), d.path("out"), "extra"},
      {"-C", d.path("in"), d.path("out")},
      {"-x", d.path("in"), d.path("out")},
      {"-cd", d.path("in"), d.path("out")},
      {"c", d.path("in"), d.path("out")},
      {"", d.path("in"), d.path("out")},
  };
  for (const auto& args : cases) {
    run_result r = run_vesk(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, usage);
  }
  EXPECT_FALSE(exists(d.path("out")));
}

// A failed run leaves no output and does not touch an existing one.
void expect_refused(const std::vector<std::string>& args, const std::string& message) {
  run_result r = run_vesk(args);
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find(message), std::string::npos) << r.out;
}

TEST(Cli, MissingInput) {
  scratch_dir d;
  for (const char* flag : {"-c", "-d"}) {
    expect_refused({flag, d.path("nothing"), d.path("out")}, d.path("nothing") + " not found");
    EXPECT_FALSE(exists(d.path("out")));
  }
  write_bytes(d.path("kept"), {9, 9});
  expect_refused({"-c", d.path("nothing"), d.path("kept")}, "not found");
  EXPECT_EQ(read_bytes(d.path("kept")), (bytes{9, 9}));
}

TEST(Cli, TooLargeSingleArchive) {
  scratch_dir d;
  std::string big = d.path("big");
  write_bytes(d.path("kept"), {7});
  // A single archive may exceed the input limit by its container's
  // overhead; beyond 1.5 GB nothing vesk writes can be.
  ASSERT_EQ(std::system(("truncate -s 1500000000 '" + big + "'").c_str()), 0);
  expect_refused({"-d", big, d.path("out")}, "File " + big + " must be less than 1.5GB");
  EXPECT_FALSE(exists(d.path("out")));
  expect_refused({"-d", big, d.path("kept")}, "must be less than 1.5GB");
  EXPECT_EQ(read_bytes(d.path("kept")), bytes{7});
}

TEST(Cli, UnknownMethodWordAndShortInput) {
  scratch_dir d;
  write_bytes(d.path("seven"), {7, 0, 0, 0, 1, 2, 3});
  write_bytes(d.path("short"), {0, 0, 0});
  write_bytes(d.path("empty"), {});
  write_bytes(d.path("kept"), {5, 5, 5});
  const std::pair<const char*, const char*> cases[] = {
      {"seven", "is not a compressed file: unknown method"},
      {"short", "is not a compressed file: too short"},
      {"empty", "is not a compressed file: too short"}};
  for (const auto& [in, why] : cases) {
    expect_refused({"-d", d.path(in), d.path("out")}, why);
    EXPECT_FALSE(exists(d.path("out")));
    expect_refused({"-d", d.path(in), d.path("kept")}, why);
    EXPECT_EQ(read_bytes(d.path("kept")), (bytes{5, 5, 5}));
  }
  // No temporary file is left behind either.
  EXPECT_EQ(list_dir(d.dir).size(), 4u);
}

}  // namespace
}  // namespace vesk::test
