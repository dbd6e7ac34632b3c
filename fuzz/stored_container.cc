// The stored containers: method word 0 (the input behind it, no check)
// and 6 (its length, the input, its checksum).
#include <cstdlib>

#include "harness.h"
#include "util/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vesk;
  const bool checked = size >= 4 && get_u32(data) == 6;
  const auto restored = fuzz::decode(data, size, checked ? stored_checked_unpack : stored_unpack);
  // A stored file restores to everything behind its header, or between
  // its header and its checksum.
  const size_t head = checked ? 12 : 4, tail = checked ? 12 : 0;
  if (restored && (size < head + tail ||
                   *restored != std::string(reinterpret_cast<const char*>(data) + head, size - head - tail)))
    std::abort();
  return 0;
}
