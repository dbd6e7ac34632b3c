#include "cli/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>

#include "support/support.h"
#include "cli/signals.h"
#include "util/fail.h"

namespace vesk {
namespace {

TEST(Files, DeviceDirectoriesSizesAndWritesThatLeaveNoTemporary) {
  for (const char* dev : {"/dev", "/dev/", "/dev/../dev"}) EXPECT_TRUE(is_device_directory(dev));
  for (const char* other : {"/dev/shm", "/"}) EXPECT_FALSE(is_device_directory(other));
  test::scratch_dir d;
  EXPECT_FALSE(is_device_directory(d.dir.c_str()));
  ASSERT_EQ(symlink("/dev", d.path("devlink").c_str()), 0);
  EXPECT_TRUE(is_device_directory(d.path("devlink").c_str()));
  const uint8_t a[] = {1, 2, 3, 4};
  write_file(d.path("out").c_str(), a, 4);
  EXPECT_EQ(test::read_bytes(d.path("out")), (test::bytes{1, 2, 3, 4}));
  write_file(d.path("out").c_str(), a, 3);
  EXPECT_EQ(test::read_bytes(d.path("out")), (test::bytes{1, 2, 3}));
  EXPECT_EQ(test::list_dir(d.dir).size(), 2u);  // devlink and out: no temporary
  EXPECT_EQ(file_size(d.path("out").c_str()), 3);
  EXPECT_EQ(file_size(d.path("missing").c_str()), -1);
  EXPECT_EQ(file_size(d.path("missing/below").c_str()), -1);
  EXPECT_STOPS(file_size(d.dir.c_str()), "is a directory");
}

// A stop signal removes the temporary output that write_file has not yet
// renamed, and the process ends by that signal.
TEST(Files, StopSignalsRemoveThePendingOutput) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    test::scratch_dir d;
    test::write_bytes(d.path("out.vesk-partial-abcdef"), {1});
    EXPECT_EXIT(
        {
          install_stop_signals();
          unblock_stop_signals();  // a write_file before may have blocked them
          set_pending_output(open(d.dir.c_str(), O_RDONLY | O_DIRECTORY), "out.vesk-partial-abcdef");
          raise(sig);
        },
        testing::KilledBySignal(sig), "");
    EXPECT_TRUE(test::list_dir(d.dir).empty()) << sig;
  }
}

}  // namespace
}  // namespace vesk
