#include "harness.h"

#include <signal.h>

#include <cstdlib>

#include "util/fail.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace vesk;
  // The arena installs its fault handler; keep the sanitizer's or the
  // fuzzer's, which report more.
  struct sigaction segv, bus;
  sigaction(SIGSEGV, nullptr, &segv);
  sigaction(SIGBUS, nullptr, &bus);
  arena_init();
  sigaction(SIGSEGV, &segv, nullptr);
  sigaction(SIGBUS, &bus, nullptr);
  return 0;
}
