#include "cli/signals.h"

#include <pthread.h>
#include <unistd.h>

#include <cstring>

#include "cli/display.h"

namespace vesk {

namespace {

// The pending output: a name inside an open directory. Written only with
// the stop signals blocked, read by their handler.
constexpr size_t name_room = 4096;
volatile sig_atomic_t pending_dir = -1;
char pending_name[name_room];

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};

void on_stop_signal(int sig) {
  remove_pending_output();
  // End by the same signal, so that the caller sees what ended the run.
  signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);
}

// A fault is a crash, never a clean refusal: the partial output goes, and
// the process ends by the same signal so that the caller sees a crash.
void on_fault(int sig) {
  display_clear_in_signal();
  static const char msg[] = "Segmentation fault\n";
  ssize_t r = write(STDERR_FILENO, msg, sizeof msg - 1);
  (void)r;
  remove_pending_output();
  signal(sig, SIG_DFL);
  raise(sig);  // delivered when the handler returns, or the faulting access repeats
}

sigset_t stop_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : stop_signals) sigaddset(&set, sig);
  return set;
}

}  // namespace

void set_pending_output(int dir_fd, const char* name) {
  const size_t len = std::strlen(name);
  if (len >= name_room) return;
  std::memcpy(pending_name, name, len + 1);
  pending_dir = dir_fd;
}

void clear_pending_output() {
  pending_dir = -1;
}

void remove_pending_output() {
  const int dir = pending_dir;
  if (dir >= 0) {
    pending_dir = -1;
    unlinkat(dir, pending_name, 0);
  }
}

void install_stop_signals() {
  struct sigaction sa {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  for (int sig : stop_signals) sigaddset(&sa.sa_mask, sig);
  for (int sig : stop_signals) sigaction(sig, &sa, nullptr);
}

void install_fault_handler() {
  // An alternate stack lets the handler run after a stack overflow too.
  static uint8_t alt_stack[64 * 1024];
  stack_t ss{};
  ss.ss_sp = alt_stack;
  ss.ss_size = sizeof alt_stack;
  sigaltstack(&ss, nullptr);
  struct sigaction sa {};
  sa.sa_handler = on_fault;
  sa.sa_flags = SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGSEGV, &sa, nullptr);
  sigaction(SIGBUS, &sa, nullptr);
}

void block_stop_signals() {
  const sigset_t set = stop_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void unblock_stop_signals() {
  const sigset_t set = stop_set();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace vesk
