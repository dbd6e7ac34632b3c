// Compress then decompress: input = a method byte (text, mixed or stored
// by its value mod 3; the strong models, -9, when (value / 3) is odd) and
// the file. The restored file must equal it.
#include <cstdlib>
#include <string>

#include "driver/containers.h"
#include "driver/stored.h"
#include "harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vesk::fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vesk;
  if (size < 1) return 0;
  static const char* const names[] = {"in.txt", "in.dat", "in.bin"};
  const std::string in = fuzz::scratch(names[data[0] % 3]);
  const std::string packed = fuzz::scratch("packed"), out = fuzz::scratch("out");
  fuzz::write_whole(in, data + 1, size - 1);
  const bool strong = (data[0] / 3) % 2 == 1;
  // Nothing here may be refused.
  const bool ok = fuzz::guarded([&] {
    switch (data[0] % 3) {
      case 0: text_compress(in.c_str(), packed.c_str(), strong); break;
      case 1: mixed_compress(in.c_str(), packed.c_str(), strong); break;
      default: stored_compress(in.c_str(), packed.c_str()); break;
    }
    const std::string archive = fuzz::read_whole(packed);
    if (archive.size() < 4) std::abort();
    switch (archive[0]) {  // the method word, as the driver reads it
      case 0: stored_decompress(packed.c_str(), out.c_str()); break;
      case 1: case 4: text_decompress(packed.c_str(), out.c_str()); break;
      case 2: case 5: mixed_decompress(packed.c_str(), out.c_str()); break;
      default: std::abort();
    }
  });
  if (!ok) std::abort();
  if (fuzz::read_whole(out) != std::string(reinterpret_cast<const char*>(data) + 1, size - 1))
    std::abort();
  return 0;
}
