#include "util/fail.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "util/progress.h"

namespace vesk {

namespace {
const char* volatile pending_output = nullptr;
}

void set_pending_output(const char* path) {
  pending_output = path;
}

void remove_pending_output() {
  const char* p = pending_output;
  if (p != nullptr) {
    pending_output = nullptr;
    unlink(p);
  }
}

void fail(const char* fmt, ...) {
  progress_abandon();
  va_list args;
  va_start(args, fmt);
  std::vfprintf(stdout, fmt, args);
  va_end(args);
  std::fflush(stdout);
  remove_pending_output();
  std::_Exit(exit_failure);
}

void check_failed(const char* text, const char* file, unsigned line) {
  fail("assertion \"%s\" failed: %s:%u\n", text, file, line);
}

}  // namespace vesk
