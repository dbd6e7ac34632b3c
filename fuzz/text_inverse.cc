// The inverse text transform on arbitrary streams: input = the dictionary's
// length (2 bytes, little-endian), the dictionary stream, then the slots of
// the word-code stream. Streams it accepts give a text that the forward
// transform and the inverse bring back unchanged.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "harness.h"
#include "text/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vesk;
  if (size < 2) return 0;
  size_t listc = data[0] | size_t{data[1]} << 8;
  if (listc > size - 2) listc = size - 2;
  if (listc == 0) return 0;  // the container refuses an empty dictionary
  const size_t codes_bytes = (size - 2 - listc) / 4 * 4;
  // The streams as the container lays them out: zero history in front
  // (1024 and 256 bytes), zero slack behind.
  std::vector<uint8_t> codes(1024 + codes_bytes + 64), list(256 + listc + 64);
  std::copy_n(data + 2, listc, list.begin() + 256);
  std::copy_n(data + 2 + listc, codes_bytes, codes.begin() + 1024);
  uint8_t* out = nullptr;
  const char* why = nullptr;
  const int64_t n = text_inverse(codes.data() + 1024, static_cast<int64_t>(codes_bytes / 4),
                                 list.data() + 256, static_cast<int64_t>(listc), &out, &why);
  if (why != nullptr) {
    if (out != nullptr) std::abort();
    return 0;
  }
  if (n < 1 || out[0] != ' ' || out[n] != ' ') std::abort();
  // Forward and back again: the same text.
  fuzz::guarded([&] {
    text_state t;
    if (text_forward(t, out, n) != nullptr) return;
    uint8_t* again = nullptr;
    const char* why2 = nullptr;
    const int64_t n2 = text_inverse(t.codes, t.codesc, t.list, t.listc, &again, &why2);
    if (why2 != nullptr || n2 != n || std::memcmp(again, out, static_cast<size_t>(n)) != 0)
      std::abort();
    std::free(again);
    text_release_streams(t);
  });
  std::free(out);
  return 0;
}
