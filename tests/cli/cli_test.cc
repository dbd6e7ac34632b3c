// Black-box tests of the command line through the built binary: exit
// status, messages and the files left behind; and runs under an
// address-space limit.
#include <gtest/gtest.h>

#include <regex>

#include "support/support.h"

namespace vesk::test {
namespace {

// A wrong command line: status 1, nothing on standard output, and on
// standard error what was wrong, the design's usage text (with the
// program's name as it was called) and where to read more.
TEST(Cli, WrongCommandLinesNameTheFaultAndPrintUsage) {
  scratch_dir d;
  write_bytes(d.path("in"), {1, 2, 3});
  const std::string in = d.path("in"), out = d.path("out");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-c", "-d", in, out}, "-c, -d, -t and -l exclude each other"},
      {{"-cd", in, out}, "-c, -d, -t and -l exclude each other"},
      {{"-T"}, "-T needs a number of threads"},
      {{"-Tx", in, out}, "-T takes a number of threads from 0 to 4096, not 'x'"},
      {{"-T", "-1", in, out}, "-T takes a number of threads from 0 to 4096, not '-1'"},
      {{"--threads=5000", in, out}, "--threads takes a number of threads from 0 to 4096, not '5000'"},
      {{"--frame-size=0", in, out}, "--frame-size takes a size from 64K to 1,001,000,000 bytes, not '0'"},
      {{"--frame-size=1000M", in}, "--frame-size takes a size from 64K to 1,001,000,000 bytes, not '1000M'"},
      {{"--frame-size=63K", in}, "--frame-size takes a size from 64K to 1,001,000,000 bytes, not '63K'"},
      {{"--frame-size=12Q", in}, "--frame-size takes a size from 64K to 1,001,000,000 bytes, not '12Q'"},
      {{"--frame-size=64K", "-d", in, out}, "--frame-size applies only when compressing"},
      {{"--method=text", "-t", in}, "--method applies only when compressing"},
      {{"--method=zip", in, out}, "--method takes text, mixed or stored, not 'zip'"},
      {{"--method"}, "--method needs a value"},
      {{"--quiet=yes", in, out}, "--quiet takes no value"},
      {{"--bogus", in, out}, "unknown option '--bogus'"},
      {{"-C", in, out}, "unknown option '-C'"},
      {{"-x", in, out}, "unknown option '-x'"},
      {{"-o", "x", "-t", in}, "-o does not apply to -t"},
      {{"-f", "-l", in}, "-f does not apply to -l"},
      {{"--stdout", "-o", "x", in}, "-o and --stdout exclude each other"},
      {{"--rm", "--stdout", in}, "--rm does not apply with --stdout"},
      {{"--rm"}, "--rm applies to file operands"},
      {{"-l"}, "-l needs a file to list"},
      {{"-o"}, "-o needs a file name"},
  };
  const std::string usage = "Vesk version 4\nCompress:\n    " VESK_BIN " -c input output\nDecompress:\n    " VESK_BIN
                            " -d input output\n";
  for (const auto& [args, why] : cases) {
    const run_result r = run_split(vesk_command(args));
    EXPECT_EQ(r.status, 1) << why;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vesk: " + why + "\n" + usage + "Try '" VESK_BIN " --help' for more information.\n");
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
      {"nothing", "vesk: " + d.path("nothing") + " not found"},
      {"seven", "is not a compressed file: unknown method"},
      {"short", "is not a compressed file: too short"},
      {"empty", "is not a compressed file: too short"},
      {"big", "vesk: " + d.path("big") + " must be less than 1.5GB"}};
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
      "vesk: this file needs about ([0-9.]+) ([GM])B of memory; the address-space limit "
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
