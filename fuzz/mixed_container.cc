#include "containers.h"
#include "driver/containers.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vesk::fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vesk::fuzz::decode_file(data, size, vesk::mixed_decompress);
  return 0;
}
