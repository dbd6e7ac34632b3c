// Inputs and outputs that are not plain files in a writable directory:
// device nodes, FIFOs, symlinks, standard output, long names, the same file
// for both. Device nodes and FIFOs are made in the test's own directory.
// (Runs ended by a signal: signal_storm_test.cc.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/support.h"

namespace vesk::test {
namespace {

struct stat stat_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

// A character device like the system's: mknod needs root; without it the
// test cannot build its node and is skipped.
bool make_char_device(const std::string& path, unsigned major_no, unsigned minor_no) {
  return mknod(path.c_str(), S_IFCHR | 0666, makedev(major_no, minor_no)) == 0;
}

// A compressed stored file of `data` (stored: its bytes appear unchanged).
std::string stored_archive(const scratch_dir& d, const bytes& data) {
  write_bytes(d.path("data.bin"), data);
  EXPECT_EQ(run_vesk({"-c", d.path("data.bin"), d.path("data.vk")}).status, 0);
  std::remove(d.path("data.bin").c_str());
  return d.path("data.vk");
}

TEST(OutputPaths, DeviceNodeIsWrittenInPlace) {
  scratch_dir d;
  if (!make_char_device(d.path("null"), 1, 3)) GTEST_SKIP() << "mknod needs root";
  const bytes text = text_sample(5000, 1);
  write_bytes(d.path("in.txt"), text);
  run_result c = run_vesk({"-c", d.path("in.txt"), d.path("null")});
  EXPECT_EQ(c.status, 0) << c.out;
  const struct stat st = stat_of(d.path("null"));
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(st.st_rdev, makedev(1, 3));
  EXPECT_EQ(list_dir(d.dir).size(), 2u);  // no temporary, nothing replaced

  // The usual test of an archive: decompress it to the null device.
  ASSERT_EQ(run_vesk({"-c", d.path("in.txt"), d.path("packed")}).status, 0);
  run_result x = run_vesk({"-d", d.path("packed"), d.path("null")});
  EXPECT_EQ(x.status, 0) << x.out;
  EXPECT_TRUE(S_ISCHR(stat_of(d.path("null")).st_mode));
  EXPECT_EQ(list_dir(d.dir).size(), 3u);
}

TEST(OutputPaths, FullDeviceReportsTheSystemsReason) {
  scratch_dir d;
  if (!make_char_device(d.path("full"), 1, 7)) GTEST_SKIP() << "mknod needs root";
  write_bytes(d.path("in"), random_bytes(100000, 2));
  run_result r = run_vesk({"-c", d.path("in"), d.path("full")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Compressing default\nCannot write " + d.path("full") +
                       ": No space left on device\n");
}

TEST(OutputPaths, FifoIsWrittenInPlace) {
  scratch_dir d;
  ASSERT_EQ(mkfifo(d.path("fifo").c_str(), 0600), 0);
  const bytes data = random_bytes(300000, 3);  // more than a pipe holds
  const std::string packed = stored_archive(d, data);
  run_result r = run_shell("cat '" + d.path("fifo") + "' > '" + d.path("got") + "' & timeout 60 " +
                           vesk_command({"-d", packed, d.path("fifo")}) + "; wait");
  EXPECT_EQ(r.out, "Decompressing default\n");
  EXPECT_TRUE(read_bytes(d.path("got")) == data);
  EXPECT_TRUE(S_ISFIFO(stat_of(d.path("fifo")).st_mode));
}

TEST(OutputPaths, SymlinkReplacesTheFileItPointsTo) {
  scratch_dir d;
  ASSERT_EQ(mkdir(d.path("sub").c_str(), 0700), 0);
  write_bytes(d.path("sub/target"), {1, 2, 3});
  ASSERT_EQ(chmod(d.path("sub/target").c_str(), 0640), 0);
  ASSERT_EQ(symlink("sub/target", d.path("link").c_str()), 0);
  ASSERT_EQ(symlink("link", d.path("link2").c_str()), 0);  // a chain
  ASSERT_EQ(symlink("sub/new", d.path("dangling").c_str()), 0);
  const bytes data = as_bytes("through the link");
  const std::string packed = stored_archive(d, data);

  for (const char* name : {"link", "link2"}) {
    run_result r = run_vesk({"-d", packed, d.path(name)});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(S_ISLNK(stat_of(d.path(name)).st_mode)) << name;
    EXPECT_EQ(read_bytes(d.path("sub/target")), data);
    EXPECT_EQ(stat_of(d.path("sub/target")).st_mode & 07777, 0640u);  // its mode kept
  }
  run_result r = run_vesk({"-d", packed, d.path("dangling")});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(S_ISLNK(stat_of(d.path("dangling")).st_mode));
  EXPECT_EQ(read_bytes(d.path("sub/new")), data);
  EXPECT_EQ(list_dir(d.path("sub")).size(), 2u);  // target and new, no temporary
}

TEST(OutputPaths, SymlinkLoopIsRefused) {
  scratch_dir d;
  ASSERT_EQ(symlink("loop", d.path("loop").c_str()), 0);
  const std::string packed = stored_archive(d, {1});
  run_result r = run_vesk({"-d", packed, d.path("loop")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Cannot write " + d.path("loop") + ": Too many levels of symbolic links"),
            std::string::npos)
      << r.out;
}

// /dev/stdout is a link to /proc/self/fd/1; the test makes its own.
TEST(OutputPaths, StandardOutputThroughALink) {
  scratch_dir d;
  ASSERT_EQ(symlink("/proc/self/fd/1", d.path("stdout").c_str()), 0);
  const bytes data = as_bytes("restored to standard output\n");
  const std::string packed = stored_archive(d, data);
  // A pipe: written in place, after the progress message.
  run_result r = run_vesk({"-d", packed, d.path("stdout")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Decompressing default\n" + std::string(data.begin(), data.end()));
  EXPECT_TRUE(S_ISLNK(stat_of(d.path("stdout")).st_mode));
  // Redirected to a file: the file it points to is replaced.
  r = run_shell(vesk_command({"-d", packed, d.path("stdout")}) + " > '" + d.path("captured") + "'");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(read_bytes(d.path("captured")), data);
  EXPECT_TRUE(S_ISLNK(stat_of(d.path("stdout")).st_mode));
}

TEST(OutputPaths, LongNamesFit) {
  scratch_dir d;
  const bytes text = text_sample(2000, 4);
  write_bytes(d.path("in.txt"), text);
  for (size_t len : {240u, 244u, 250u, 255u}) {
    const std::string name(len, 'n');
    run_result c = run_vesk({"-c", d.path("in.txt"), d.path(name)});
    EXPECT_EQ(c.status, 0) << len << ": " << c.out;
    run_result x = run_vesk({"-d", d.path(name), d.path("out")});
    EXPECT_EQ(x.status, 0) << len << ": " << x.out;
    EXPECT_EQ(read_bytes(d.path("out")), text);
    std::remove(d.path(name).c_str());
  }
  EXPECT_EQ(list_dir(d.dir).size(), 2u);
  run_result r = run_vesk({"-c", d.path("in.txt"), d.path(std::string(256, 'n'))});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(": File name too long"), std::string::npos) << r.out;
}

TEST(OutputPaths, InputAndOutputMayBeTheSameFile) {
  scratch_dir d;
  const bytes text = text_sample(20000, 5);
  for (const char* name : {"same.txt", "same.dat", "same.bin"}) {
    const std::string p = d.path(name);
    write_bytes(p, text);
    run_result c = run_vesk({"-c", p, p});
    EXPECT_EQ(c.status, 0) << name << ": " << c.out;
    EXPECT_NE(read_bytes(p), text);
    run_result x = run_vesk({"-d", p, p});
    EXPECT_EQ(x.status, 0) << name << ": " << x.out;
    EXPECT_TRUE(read_bytes(p) == text) << name;
  }
  EXPECT_EQ(list_dir(d.dir).size(), 3u);
}

TEST(InputPaths, OnlyRegularFilesAreRead) {
  scratch_dir d;
  ASSERT_EQ(mkfifo(d.path("fifo.txt").c_str(), 0600), 0);
  std::vector<std::string> inputs = {d.path("fifo.txt"), d.dir};
  if (make_char_device(d.path("zero"), 1, 5)) inputs.push_back(d.path("zero"));
  for (const std::string& in : inputs) {
    for (const char* flag : {"-c", "-d"}) {
      // A FIFO without a writer would block whoever opens it.
      run_result r = run_shell("timeout 20 " + vesk_command({flag, in, d.path("out")}));
      EXPECT_EQ(r.status, 1) << in;
      EXPECT_EQ(r.out, in + " is not a regular file\n");
      EXPECT_FALSE(exists(d.path("out")));
    }
  }
  ASSERT_EQ(symlink("loop", d.path("loop").c_str()), 0);
  run_result r = run_vesk({"-c", d.path("loop"), d.path("out")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Cannot read " + d.path("loop") + ": Too many levels of symbolic links\n");
}

}  // namespace
}  // namespace vesk::test
