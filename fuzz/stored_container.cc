// The stored containers: method word 0 (the input behind it, no check)
// and 6 (its length, the input, its checksum), restored through the
// library.
#include "api.h"

static uint32_t word(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto restored = vesk::fuzz::restore(data, size);
  // A stored file restores to everything behind its header, or between
  // its header and its checksum.
  if (!restored || size < 4 || (word(data) != 0 && word(data) != 6)) return 0;
  const size_t head = word(data) == 6 ? 12 : 4, tail = word(data) == 6 ? 12 : 0;
  if (size < head + tail ||
      *restored != std::string(reinterpret_cast<const char*>(data) + head, size - head - tail))
    std::abort();
  return 0;
}
