// Compress then decompress: input = a method byte (text, mixed or stored
// by its value mod 3; the strong models when (value / 3) is odd) and the
// file. The restored file must equal it; nothing here may be refused.
#include <cstdlib>
#include <cstring>

#include "harness.h"
#include "util/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vesk;
  if (size < 1) return 0;
  const pack_input in{"fuzz input", static_cast<int64_t>(size - 1),
                      [&](uint8_t* dst) { std::memcpy(dst, data + 1, size - 1); }};
  std::string archive;
  const pack_output keep = [&](const uint8_t* p, int64_t n) {
    archive.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
  };
  const pack_settings set{false, (data[0] / 3) % 2 == 1};
  if (!fuzz::guarded([&] {
        switch (data[0] % 3) {
          case 0: text_pack(in, keep, set); break;
          case 1: mixed_pack(in, keep, set); break;
          default: stored_pack(in, keep); break;
        }
      }) || archive.size() < 4)
    std::abort();
  const auto restored = fuzz::decode(
      reinterpret_cast<const uint8_t*>(archive.data()), archive.size(),
      [&](auto name, auto p, auto m, const auto& out) {
        switch (get_u32(p)) {  // the method word, as the driver reads it
          case 0: stored_unpack(name, p, m, out); break;
          case 1: case 4: text_unpack(name, p, m, out, set); break;
          case 2: case 5: mixed_unpack(name, p, m, out, set); break;
          default: std::abort();
        }
      });
  if (restored != std::string(reinterpret_cast<const char*>(data) + 1, size - 1)) std::abort();
  return 0;
}
