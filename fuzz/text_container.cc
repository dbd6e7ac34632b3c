// The text method's archives (method words 1 and 4), restored through
// the library: once as one shot, once as a stream.
#include "api.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vesk::fuzz::restore(data, size);
  return 0;
}
