#include "util/fail.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/progress.h"

namespace vesk {

namespace {

// The pending output: a name inside an open directory. Written only with
// the stop signals blocked, read by their handler.
constexpr size_t name_room = 4096;
volatile sig_atomic_t pending_dir = -1;
char pending_name[name_room];
stop_hook hook = nullptr;
bool messages_to_stderr = false;

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

[[noreturn]] void stop(stop_kind kind) {
  std::fflush(stdout);
  remove_pending_output();
  if (hook != nullptr) hook(kind);
  std::_Exit(exit_failure);
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

stop_signals_blocked::stop_signals_blocked() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : stop_signals) sigaddset(&set, sig);
  pthread_sigmask(SIG_BLOCK, &set, &saved);
}

void block_stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : stop_signals) sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

stop_signals_blocked::~stop_signals_blocked() {
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

void set_messages_to_stderr(bool on) {
  messages_to_stderr = on;
}

FILE* message_stream() {
  return messages_to_stderr ? stderr : stdout;
}

void set_stop_hook(stop_hook h) {
  hook = h;
}

void fail(const char* fmt, ...) {
  progress_abandon();
  va_list args;
  va_start(args, fmt);
  std::vfprintf(message_stream(), fmt, args);
  va_end(args);
  stop(stop_kind::refusal);
}

void check_failed(const char* text, const char* file, int line) {
  std::fprintf(message_stream(), "assertion \"%s\" failed: %s:%d\n", text, file, line);
  stop(stop_kind::internal);
}

}  // namespace vesk
