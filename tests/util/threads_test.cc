#include "util/threads.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>

#include "cli/display.h"
#include "cli/signals.h"
#include "support/support.h"
#include "util/cores.h"
#include "util/fail.h"
#include "util/prefault.h"
#include "util/progress.h"
#include "util/tasks.h"

namespace vesk {
namespace {

// Threads of this process whose mask lets a stop signal through (the
// main thread must, the others must not), by name, from /proc (what the
// kernel sees); *others counts the threads beside the main one.
std::string threads_wrong_about_stop_signals(int* others) {
  *others = 0;
  std::string bad;
  DIR* d = opendir("/proc/self/task");
  if (d == nullptr) return "no /proc/self/task";
  while (dirent* e = readdir(d)) {
    const std::string tid = e->d_name;
    if (tid == "." || tid == "..") continue;
    const bool main = tid == std::to_string(getpid());
    *others += !main;
    std::ifstream status("/proc/self/task/" + tid + "/status");
    std::string line, name;
    unsigned long long blocked = 0;
    while (std::getline(status, line)) {
      if (line.rfind("Name:", 0) == 0) name = line.substr(6);
      if (line.rfind("SigBlk:", 0) == 0) blocked = std::strtoull(line.c_str() + 7, nullptr, 16);
    }
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
      if (static_cast<bool>((blocked >> (sig - 1)) & 1) == main) bad += " " + tid + " (" + name + ")";
  }
  closedir(d);
  return bad;
}

// In a child process: starts every thread the program has (the progress
// display, with a pseudo-terminal as standard error, the prefault thread,
// the coding thread beside the main one) and looks at their masks while
// they run. Returns the exit status: 0 when all is well.
int start_threads_and_look() {
  const int err = dup(STDERR_FILENO);
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 2;
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  if (slave < 0 || dup2(slave, STDERR_FILENO) < 0) return 2;
  install_stop_signals();
  display_begin();
  std::vector<uint8_t> memory(size_t{4} << 20);
  prefault(memory.data(), memory.data() + memory.size());
  prefault_drain();
  // Both tasks wait for each other, so that both threads are alive
  // when the first looks.
  const bool two = tasks_in_parallel();
  std::atomic<int> arrived{0};
  std::atomic<bool> checked{false};
  std::string bad = "(not checked)";
  int others = 0;
  auto wait_for = [&](auto done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (two && !done() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  };
  const int order[2] = {0, 1};
  run_tasks(order, 2, [&](int t) {
    arrived++;
    wait_for([&] { return arrived == 2; });
    if (t == 0) {
      bad = threads_wrong_about_stop_signals(&others);
      checked = true;
    } else {
      wait_for([&] { return checked.load(); });
    }
  });
  // The display, the prefault thread and, with two cores, the coding thread.
  const std::string report = std::to_string(others) + " threads beside the main one; " +
                             "wrong about stop signals:" + bad + "\n";
  if (write(err, report.data(), report.size()) < 0) return 3;
  return bad.empty() && others >= (two ? 3 : 2) ? 0 : 1;
}

// Every thread the program starts blocks the stop signals, so the main
// thread alone runs their handler.
TEST(HelperThread, EveryThreadOfTheProgramBlocksTheStopSignals) {
  EXPECT_EXIT(std::_Exit(start_threads_and_look()), testing::ExitedWithCode(0), "");
}

// A cgroup's CPU quota counts as whole cores, rounded up: 1.5 CPUs of
// quota keep two threads busy half the time each.
TEST(Cores, QuotaRoundsUp) {
  const std::tuple<long long, long long, int> cases[] = {  // quota, period, cores
      {150000, 100000, 2}, {100000, 100000, 1}, {20000, 100000, 1}, {400000, 100000, 4},
      {0, 100000, 0},      {-1, 100000, 0},     {100000, 0, 0}};
  for (const auto& [quota, period, cores] : cases) EXPECT_EQ(cores_of_quota(quota, period), cores) << quota;
}

}  // namespace
}  // namespace vesk
