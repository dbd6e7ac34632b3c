// Black-box tests of the command line through the built binary: exit
// status, messages and the files left behind; and runs under an
// address-space limit.
#include <gtest/gtest.h>

#include <regex>

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

// Under an address-space limit (prlimit --as, as `ulimit -v` sets it) vesk
// maps memory as the file needs it, so a small file goes through a limit far
// below what the models' tables stand for, and a file that needs more is
// refused with a message that says how much, with nothing left behind.
run_result limited(int64_t bytes, const std::vector<std::string>& args) {
  return run_shell("prlimit --as=" + std::to_string(bytes) + " " + vesk_command(args));
}

TEST(MemoryLimit, SmallFilesRunUnderATightAddressSpaceLimit) {
  scratch_dir d;
  const bytes text = text_sample(1000, 51), noise = random_bytes(1000, 52);
  const std::pair<const char*, bytes> files[] = {
      {"a.txt", text}, {"b.dat", noise}, {"c.dat", text}, {"d.bin", noise}};
  for (const auto& [name, data] : files) {
    write_bytes(d.path(name), data);
    // A fifteenth of the old fixed reservation.
    const run_result c = limited(1'000'000'000, {"-c", d.path(name), d.path("packed")});
    ASSERT_EQ(c.status, 0) << name << ": " << c.out;
    const run_result x = limited(1'000'000'000, {"-d", d.path("packed"), d.path("back")});
    ASSERT_EQ(x.status, 0) << name << ": " << x.out;
    EXPECT_TRUE(read_bytes(d.path("back")) == data) << name;
  }
}

// A file whose tables grow past the limit: the run stops where the
// mapping fails, with the message, status 1, the existing output as it was
// and no temporary file; restoring needs about as much.
TEST(MemoryLimit, AFileThatNeedsMoreIsRefusedWithTheFigures) {
  scratch_dir d;
  write_bytes(d.path("big.txt"), text_sample(1'000'000, 53));
  write_bytes(d.path("big.dat"), random_bytes(1'000'000, 54));
  const bytes old_output = text_sample(500, 55);
  const std::regex message(
      "vesk needs about ([0-9.]+) ([GM])B of memory for this file; the address-space limit "
      "\\(ulimit -v\\) is 300 MB\n");
  constexpr int64_t tight = 300'000'000;  // about a third of what these files need
  for (const char* name : {"big.txt", "big.dat"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(run_vesk({"-c", d.path(name), d.path("packed")}).status, 0);
    for (const char* mode : {"-c", "-d"}) {
      write_bytes(d.path("out"), old_output);
      const run_result r = limited(tight, {mode, d.path(mode[1] == 'c' ? name : "packed"), d.path("out")});
      EXPECT_EQ(r.status, 1) << r.out;
      std::smatch m;
      ASSERT_TRUE(std::regex_search(r.out, m, message)) << r.out;
      EXPECT_GT(std::stod(m[1]) * (m[2] == "G" ? 1000 : 1), 300);
      EXPECT_TRUE(read_bytes(d.path("out")) == old_output);
      EXPECT_EQ(list_dir(d.dir).size(), 4u);
    }
  }
}

}  // namespace
}  // namespace vesk::test
