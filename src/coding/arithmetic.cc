#include "coding/arithmetic.h"

namespace vesk {

namespace {
void put_word(coder& k, uint32_t w) {
  if (k.cursor + 2 <= k.end) {
    k.cursor[0] = static_cast<uint8_t>(w);
    k.cursor[1] = static_cast<uint8_t>(w >> 8);
    k.cursor += 2;
  } else {
    k.overrun++;
  }
}

uint32_t get_word(coder& k) {
  if (k.cursor + 2 <= k.end) {
    uint32_t w = uint32_t{k.cursor[0]} | uint32_t{k.cursor[1]} << 8;
    k.cursor += 2;
    return w;
  }
  k.overrun++;
  return 0;
}
}  // namespace

void coder_init_encode(coder& k, uint8_t* buf, size_t capacity) {
  k = coder{};
  k.start = k.cursor = buf;
  k.end = buf + capacity;
}

void coder_init_decode(coder& k, const uint8_t* data, size_t length) {
  k = coder{};
  // The coder shares one pointer type for both directions; decoding never
  // writes through it.
  k.start = k.cursor = const_cast<uint8_t*>(data);
  k.end = k.start + length;
  uint32_t hi = get_word(k);
  k.x = (hi << 16) | get_word(k);
}

void coder_flush(coder& k) {
  uint32_t mid = static_cast<uint32_t>((uint64_t{k.x1} + k.x2) >> 1);
  put_word(k, mid >> 16);
  put_word(k, mid & 0xFFFF);
}

}  // namespace vesk
