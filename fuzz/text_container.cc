#include "containers.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vesk::fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vesk;
  fuzz::decode(data, size, [](const char* name, const uint8_t* p, int64_t m, const pack_output& out) {
    text_unpack(name, p, m, out, pack_settings{false});
  });
  return 0;
}
