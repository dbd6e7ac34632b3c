// Context hashes of the models: one for small integer tuples (hash_a), the
// word mix of the word-code model's contexts (key_word), and fasthash64.
// All arithmetic modulo 2^64.
#pragma once

#include <cstdint>

#include "util/fasthash.h"

namespace vesk {

constexpr uint64_t hash_a(uint64_t v) {
  uint64_t u = 0x2945873948759845 + v;
  uint64_t m = 0x5309394270357325 * (u ^ (u >> 43));
  return m ^ (m >> 17);
}

constexpr uint64_t key_m1 = 0x98e39fe0cad652c1;
constexpr uint64_t key_m2 = 0x2359048375394591;
constexpr uint64_t key_m3 = 0x5693587958376981;

constexpr uint64_t key_mix(uint64_t w, uint64_t m) {
  return m * (w ^ (w >> 47));
}
constexpr uint64_t key_fold(uint64_t a) {
  return a ^ (a >> 21);
}
constexpr uint64_t key_word(uint64_t w, uint64_t m) {
  return key_fold(key_mix(w, m));
}

// The second nibble's contexts of the byte and word-code models: the first
// nibble's hashes XOR this hash of the high nibble's value.
inline uint64_t nibble_hash(uint32_t high_nibble) {
  return fasthash_u32(high_nibble);
}

}  // namespace vesk
