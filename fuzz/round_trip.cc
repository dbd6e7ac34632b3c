// Compress then decompress through the library: input = a method byte
// (text, mixed, stored or by content by its value mod 4; the strong models
// when (value / 4) is odd) and the file. The archive restores to the file,
// as one shot and as a stream; nothing here may be refused.
#include <vector>

#include "api.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const int methods[] = {VESK_METHOD_TEXT, VESK_METHOD_MIXED, VESK_METHOD_STORED, VESK_METHOD_AUTO};
  const int method = methods[data[0] % 4], level = (data[0] / 4) % 2 ? VESK_LEVEL_BEST : VESK_LEVEL_DEFAULT;
  std::vector<uint8_t> archive(vesk_compress_bound(size - 1));
  size_t n = 0;
  if (vesk_compress(vesk::fuzz::context(), data + 1, size - 1, archive.data(), archive.size(), &n, method,
                    level) != VESK_OK)
    std::abort();
  const auto restored = vesk::fuzz::restore(archive.data(), n);
  if (!restored || *restored != std::string(reinterpret_cast<const char*>(data) + 1, size - 1)) std::abort();
  return 0;
}
