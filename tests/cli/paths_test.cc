// Inputs and outputs that are not plain files in a writable directory:
// device nodes, FIFOs, symlinks, standard output, long names, the same file
// for both. Device nodes and FIFOs are made in the test's own directory;
// mknod needs root, and without it the tests of device nodes are skipped.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "support/support.h"
#include "util/bytes.h"

namespace vesk::test {
namespace {

struct stat stat_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

bool make_char_device(const std::string& path, unsigned major_no, unsigned minor_no) {
  return mknod(path.c_str(), S_IFCHR | 0666, makedev(major_no, minor_no)) == 0;
}

// A compressed stored file of `data` (stored: its bytes appear unchanged).
std::string stored_archive(const scratch_dir& d, const bytes& data) {
  write_bytes(d.path("data.bin"), data);
  EXPECT_EQ(run_vesk({"--method=stored", "-c", d.path("data.bin"), d.path("data.vk")}).status, 0);
  std::remove(d.path("data.bin").c_str());
  return d.path("data.vk");
}

TEST(OutputPaths, DeviceNodesAreWrittenInPlace) {
  scratch_dir d;
  if (!make_char_device(d.path("null"), 1, 3) || !make_char_device(d.path("full"), 1, 7))
    GTEST_SKIP() << "mknod needs root";
  write_bytes(d.path("in.txt"), text_sample(5000, 1));
  ASSERT_EQ(run_vesk({"-c", d.path("in.txt"), d.path("packed")}).status, 0);
  // The usual test of an archive: decompress it to the null device.
  for (const auto& args : {std::vector<std::string>{"-c", d.path("in.txt"), d.path("null")},
                           {"-d", d.path("packed"), d.path("null")}}) {
    const run_result r = run_vesk(args);
    EXPECT_EQ(r.status, 0) << r.out;
    const struct stat st = stat_of(d.path("null"));
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(st.st_rdev, makedev(1, 3));
    EXPECT_EQ(list_dir(d.dir).size(), 4u);  // no temporary, nothing replaced
  }
  const run_result r = run_vesk({"-c", d.path("packed"), d.path("full")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Storing (does not compress)\nvesk: Cannot write " + d.path("full") +
                       ": No space left on device\n");
}

TEST(OutputPaths, FifoIsWrittenInPlace) {
  scratch_dir d;
  ASSERT_EQ(mkfifo(d.path("fifo").c_str(), 0600), 0);
  const bytes data = random_bytes(300000, 3);  // more than a pipe holds
  const std::string packed = stored_archive(d, data);
  const run_result r = run_shell("cat '" + d.path("fifo") + "' > '" + d.path("got") + "' & timeout 60 " +
                                 vesk_command({"-d", packed, d.path("fifo")}) + "; wait");
  EXPECT_EQ(r.out, "Decompressing stored\n");
  EXPECT_TRUE(read_bytes(d.path("got")) == data);
  EXPECT_TRUE(S_ISFIFO(stat_of(d.path("fifo")).st_mode));
}

// /dev/stdout is a link to /proc/self/fd/1; the test makes its own.
TEST(OutputPaths, SymlinkReplacesTheFileItPointsTo) {
  scratch_dir d;
  ASSERT_EQ(mkdir(d.path("sub").c_str(), 0700), 0);
  write_bytes(d.path("sub/target"), {1, 2, 3});
  ASSERT_EQ(chmod(d.path("sub/target").c_str(), 0640), 0);
  ASSERT_EQ(symlink("sub/target", d.path("link").c_str()), 0);
  ASSERT_EQ(symlink("link", d.path("link2").c_str()), 0);  // a chain
  ASSERT_EQ(symlink("sub/new", d.path("dangling").c_str()), 0);
  ASSERT_EQ(symlink("loop", d.path("loop").c_str()), 0);
  ASSERT_EQ(symlink("/proc/self/fd/1", d.path("stdout").c_str()), 0);
  const bytes data = as_bytes("through the link");
  const std::string packed = stored_archive(d, data);
  ASSERT_EQ(chmod(packed.c_str(), 0604), 0);
  for (const char* name : {"link", "link2", "dangling"}) {
    const run_result r = run_vesk({"-d", packed, d.path(name)});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(S_ISLNK(stat_of(d.path(name)).st_mode)) << name;
    const std::string target = d.path(name[0] == 'd' ? "sub/new" : "sub/target");
    EXPECT_EQ(read_bytes(target), data);
    EXPECT_EQ(stat_of(target).st_mode & 07777, 0604u);  // the archive's mode, as xz and zstd give it
  }
  EXPECT_EQ(list_dir(d.path("sub")).size(), 2u);  // target and new, no temporary
  // Standard output, a pipe: written in place, after the progress message.
  run_result r = run_shell(vesk_command({"-d", packed, d.path("stdout")}) + " | cat");
  EXPECT_EQ(r.out, "Decompressing stored\n" + std::string(data.begin(), data.end()));
  // Redirected to a file: the file it points to is replaced.
  r = run_split(vesk_command({"-d", packed, d.path("stdout")}) + " > '" + d.path("captured") + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_bytes(d.path("captured")), data);
  EXPECT_TRUE(S_ISLNK(stat_of(d.path("stdout")).st_mode));
  r = run_vesk({"-d", packed, d.path("loop")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Cannot write " + d.path("loop") + ": Too many levels of symbolic links"),
            std::string::npos)
      << r.out;
}

TEST(OutputPaths, LongNamesFit) {
  scratch_dir d;
  const bytes text = text_sample(2000, 4);
  write_bytes(d.path("in.txt"), text);
  for (size_t len : {240u, 244u, 250u, 255u}) {
    const std::string name = d.path(std::string(len, 'n'));
    EXPECT_EQ(run_vesk({"-c", d.path("in.txt"), name}).status, 0) << len;
    EXPECT_EQ(run_vesk({"-d", name, d.path("out")}).status, 0) << len;
    EXPECT_EQ(read_bytes(d.path("out")), text);
    std::remove(name.c_str());
  }
  EXPECT_EQ(list_dir(d.dir).size(), 2u);
  const run_result r = run_vesk({"-c", d.path("in.txt"), d.path(std::string(256, 'n'))});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(": File name too long"), std::string::npos) << r.out;
}

TEST(OutputPaths, InputAndOutputMayBeTheSameFile) {
  scratch_dir d;
  const bytes text = text_sample(20000, 5);
  for (const char* name : {"same.txt", "same.dat", "same.bin"}) {
    const std::string p = d.path(name);
    write_bytes(p, text);
    EXPECT_EQ(run_vesk({"-c", p, p}).status, 0) << name;
    EXPECT_NE(read_bytes(p), text);
    EXPECT_EQ(run_vesk({"-d", p, p}).status, 0) << name;
    EXPECT_TRUE(read_bytes(p) == text) << name;
  }
  EXPECT_EQ(list_dir(d.dir).size(), 3u);
}

// A FIFO, a pipe or a device is read as a stream, in frames, as standard
// input is; a directory or a path that cannot be looked up is refused.
TEST(InputPaths, StreamsAreReadAndTheRestRefused) {
  scratch_dir d;
  ASSERT_EQ(mkfifo(d.path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink("loop", d.path("loop").c_str()), 0);
  const bytes text = text_sample(30000, 7);
  write_bytes(d.path("text"), text);
  // A FIFO with a writer, both ways; through a shell's pipe (/dev/fd/N).
  const std::string feed = "cat '" + d.path("text") + "' > '" + d.path("fifo") + "' & ";
  EXPECT_EQ(run_shell(feed + "timeout 20 " + vesk_command({"-q", "-c", d.path("fifo"), d.path("packed")})).status, 0);
  EXPECT_EQ(get_u32(read_bytes(d.path("packed")).data()), 3u);  // frames
  const std::string back = "cat '" + d.path("packed") + "' > '" + d.path("fifo") + "' & ";
  EXPECT_EQ(run_shell(back + "timeout 20 " + vesk_command({"-q", "-d", d.path("fifo"), d.path("out")})).status, 0);
  EXPECT_TRUE(read_bytes(d.path("out")) == text);
  if (make_char_device(d.path("null"), 1, 3)) {
    EXPECT_EQ(run_vesk({"-q", "-c", d.path("null"), d.path("empty.vsk")}).status, 0);
    EXPECT_EQ(run_vesk({"-q", "-d", d.path("empty.vsk"), d.path("empty")}).status, 0);
    EXPECT_TRUE(read_bytes(d.path("empty")).empty());
  }
  for (const std::string& in : {d.dir, d.path("loop")}) {
    for (const char* flag : {"-c", "-d"}) {
      const run_result r = run_vesk({flag, in, d.path("refused")});
      EXPECT_EQ(r.status, 1) << in;
      EXPECT_EQ(r.out, in == d.path("loop")
                           ? "vesk: Cannot read " + in + ": Too many levels of symbolic links\n"
                           : "vesk: " + in + " is a directory\n");
      EXPECT_FALSE(exists(d.path("refused")));
    }
  }
}

}  // namespace
}  // namespace vesk::test
