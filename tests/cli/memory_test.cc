// Runs under an address-space limit (prlimit --as, as `ulimit -v` sets it):
// vesk maps memory as the file needs it, so a small file goes through a
// limit far below what the models' tables stand for, and a file that needs
// more than the limit is refused with a message that says how much, with
// nothing left behind.
#include <gtest/gtest.h>

#include <regex>

#include "support/support.h"

namespace vesk::test {
namespace {

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
