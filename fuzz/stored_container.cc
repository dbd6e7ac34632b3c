#include <cstdlib>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto restored = vesk::fuzz::decode(data, size, vesk::stored_unpack);
  // A stored file restores to everything behind its method word.
  if (restored && (size < 4 || *restored != std::string(reinterpret_cast<const char*>(data) + 4,
                                                        size - 4)))
    std::abort();
  return 0;
}
