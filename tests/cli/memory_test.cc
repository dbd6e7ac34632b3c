// Runs under an address-space limit (prlimit --as, as `ulimit -v` sets it):
// vesk maps memory as the file needs it, so a small file goes through a
// limit far below what the models' tables stand for, and a file that needs
// more than the limit is refused with a message that says how much, with
// nothing left behind.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/support.h"

namespace vesk::test {
namespace {

std::string limited(int64_t bytes, const std::vector<std::string>& args) {
  return "prlimit --as=" + std::to_string(bytes) + " " + vesk_command(args);
}

constexpr int64_t small_limit = 1'000'000'000;  // a fifteenth of the old fixed reservation

TEST(MemoryLimit, SmallFilesRunUnderATightAddressSpaceLimit) {
  scratch_dir d;
  const bytes text = text_sample(1000, 51), noise = random_bytes(1000, 52);
  const struct {
    const char* name;
    const bytes& data;
  } files[] = {{"a.txt", text}, {"b.dat", noise}, {"c.dat", text}, {"d.bin", noise}};
  for (const auto& f : files) {
    write_bytes(d.path(f.name), f.data);
    run_result c = run_shell(limited(small_limit, {"-c", d.path(f.name), d.path("packed")}));
    ASSERT_EQ(c.status, 0) << f.name << ": " << c.out;
    run_result x = run_shell(limited(small_limit, {"-d", d.path("packed"), d.path("back")}));
    ASSERT_EQ(x.status, 0) << f.name << ": " << x.out;
    EXPECT_TRUE(read_bytes(d.path("back")) == f.data) << f.name;
  }
}

// A file whose tables grow past the limit: the run stops where the
// mapping fails, with the message, status 1, the existing output as it was
// and no temporary file; the same archive restores when the limit allows.
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
    write_bytes(d.path("out"), old_output);
    run_result c = run_shell(limited(tight, {"-c", d.path(name), d.path("out")}));
    EXPECT_EQ(c.status, 1) << c.out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(c.out, m, message)) << c.out;
    EXPECT_GT(std::stod(m[1]) * (m[2] == "G" ? 1000 : 1), 300);
    EXPECT_TRUE(read_bytes(d.path("out")) == old_output);
    EXPECT_EQ(list_dir(d.dir).size(), 3u);

    // Restoring needs about as much.
    run_result p = run_vesk({"-c", d.path(name), d.path("packed")});
    ASSERT_EQ(p.status, 0) << p.out;
    run_result x = run_shell(limited(tight, {"-d", d.path("packed"), d.path("out")}));
    EXPECT_EQ(x.status, 1) << x.out;
    EXPECT_TRUE(std::regex_search(x.out, m, message)) << x.out;
    EXPECT_TRUE(read_bytes(d.path("out")) == old_output);
    std::remove(d.path("packed").c_str());
    EXPECT_EQ(list_dir(d.dir).size(), 3u);
  }
}

}  // namespace
}  // namespace vesk::test
