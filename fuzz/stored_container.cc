#include <cstdlib>

#include "containers.h"
#include "driver/stored.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vesk::fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vesk;
  if (fuzz::decode_file(data, size, stored_decompress)) {
    // A stored file restores to everything behind its method word.
    if (size < 4) std::abort();
    if (fuzz::read_whole(fuzz::scratch("out")) !=
        std::string(reinterpret_cast<const char*>(data) + 4, size - 4))
      std::abort();
  }
  return 0;
}
