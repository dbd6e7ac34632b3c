// Framed archives (method word 3) restored through the library, once as
// one shot and once as a stream fed in small pieces, so that frames and
// their headers arrive split.
#include "api.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vesk::fuzz::restore(data, size, 97);
  return 0;
}
