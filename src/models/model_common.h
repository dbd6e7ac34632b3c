// Pieces the byte-oriented models share: the random byte keys, the chain of
// order contexts built from them, and the zero-flag register.
#pragma once

#include <cstdint>

#include "util/rng.h"

namespace vesk {

constexpr uint64_t order_step = 0x4940592345098245;
constexpr uint64_t order0_hash = 0x2593059382085831;
constexpr uint64_t order1_mix = 0x6ed35eb6c711da76;

// The keys of the byte values: seeded afresh, so every call draws the same.
inline void draw_byte_keys(uint64_t* key) {
  rng_seed(1);
  for (int b = 0; b < 256; b++) key[b] = rng_next();
}

// One more byte of an order chain: (h + step) ^ key[byte].
inline uint64_t order_next(uint64_t h, const uint64_t* key, uint8_t byte) {
  return (h + order_step) ^ key[byte];
}

// Zero-flag register: bit m-1 is set when the byte m places back is 0. It
// starts with every flag set (the history in front of a stream is zeros).
constexpr uint32_t zero_flags_start = 0xFFFFFFFF;
inline uint32_t zero_flags_next(uint32_t zr, uint8_t b1) { return (zr << 1) | (b1 == 0); }

}  // namespace vesk
