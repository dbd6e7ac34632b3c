#include "util/fail.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

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

std::string formatted(const char* fmt, va_list args) {
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, args);
  std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
  std::vsnprintf(s.data(), s.size() + 1, fmt, again);
  va_end(again);
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
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

stop_signals_blocked::stop_signals_blocked() {
  const sigset_t set = stop_set();
  pthread_sigmask(SIG_BLOCK, &set, &saved);
}

stop_signals_blocked::~stop_signals_blocked() {
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

void block_stop_signals() {
  const sigset_t set = stop_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void unblock_stop_signals() {
  const sigset_t set = stop_set();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void fail_as(failure_kind kind, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string m = formatted(fmt, args);
  va_end(args);
  throw failure(kind, std::move(m));
}

void fail(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string m = formatted(fmt, args);
  va_end(args);
  throw failure(failure_kind::input, std::move(m));
}

void check_failed(const char* text, const char* file, int line) {
  fail_as(failure_kind::internal, "assertion \"%s\" failed: %s:%d", text, file, line);
}

}  // namespace vesk
