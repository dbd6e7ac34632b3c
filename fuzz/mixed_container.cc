#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vesk::fuzz::decode(data, size, [](auto name, auto p, auto m, const auto& out) {
    vesk::mixed_unpack(name, p, m, out, vesk::pack_settings{false});
  });
  return 0;
}
