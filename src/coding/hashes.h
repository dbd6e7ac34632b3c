// Context hashes of the models: one for small integer tuples (hash_a), a
// family for byte keys of 8 to 24 bytes read as overlapping little-endian
// words, and fasthash64. All arithmetic modulo 2^64.
#pragma once

#include <cstdint>

#include "util/bytes.h"
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

inline uint64_t hash_bytes8(const uint8_t* k) {
  return 0x3498743967918739 ^ key_word(get_u64(k), key_m1);
}
inline uint64_t hash_bytes12(const uint8_t* k) {
  return 0xdf37affc6142a ^ key_word(get_u64(k), key_m1) ^ key_word(get_u64(k + 4), key_m2);
}
inline uint64_t hash_bytes16(const uint8_t* k) {
  return 0xdf37affc6142a ^ key_word(get_u64(k), key_m1) ^ key_word(get_u64(k + 8), key_m2);
}
inline uint64_t hash_bytes20(const uint8_t* k) {
  return 0x356dc5796a4561bf ^ key_word(get_u64(k), key_m1) ^ key_word(get_u64(k + 8), key_m2) ^
         key_word(get_u64(k + 12), key_m3);
}
inline uint64_t hash_bytes24(const uint8_t* k) {
  return 0x356dc5796a4561bf ^ key_word(get_u64(k), key_m1) ^ key_word(get_u64(k + 8), key_m2) ^
         key_word(get_u64(k + 16), key_m3);
}

// The second nibble's contexts of the byte and word-code models: the first
// nibble's hashes XOR this hash of the high nibble's value.
inline uint64_t nibble_hash(uint32_t high_nibble) {
  return fasthash_u32(high_nibble);
}

}  // namespace vesk
