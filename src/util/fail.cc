#include "util/fail.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vesk {

namespace {

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
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
  return set;
}

}  // namespace

stop_signals_blocked::stop_signals_blocked() {
  const sigset_t set = stop_set();
  pthread_sigmask(SIG_BLOCK, &set, &saved);
}

stop_signals_blocked::~stop_signals_blocked() {
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
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
