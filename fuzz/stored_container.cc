#include <cstdlib>

#include "containers.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vesk::fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vesk;
  const auto restored = fuzz::decode(data, size, stored_unpack);
  // A stored file restores to everything behind its method word.
  if (restored && (size < 4 || *restored != std::string(reinterpret_cast<const char*>(data) + 4,
                                                        size - 4)))
    std::abort();
  return 0;
}
