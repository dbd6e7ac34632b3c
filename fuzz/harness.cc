#include "harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  return 0;
}
