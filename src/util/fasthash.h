// fasthash64 with the program's fixed seed: the key of the transforms' hash
// table and of the models' second-nibble contexts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vesk {

constexpr uint64_t fasthash_seed = 0x1064fbbd6d282db5;

inline uint64_t fasthash_mix(uint64_t h) {
  h ^= h >> 23;
  h *= 0x2127599bf4325c37;
  h ^= h >> 47;
  return h;
}

inline uint64_t fasthash64(const void* buf, size_t len, uint64_t seed = fasthash_seed) {
  constexpr uint64_t m = 0x880355f21e6d1965;
  const auto* p = static_cast<const uint8_t*>(buf);
  uint64_t h = seed ^ (len * m);
  size_t words = len / 8;
  for (size_t i = 0; i < words; i++) {
    uint64_t v;
    std::memcpy(&v, p + 8 * i, 8);
    h = (h ^ fasthash_mix(v)) * m;
  }
  size_t rest = len & 7;
  if (rest != 0) {
    uint64_t v = 0;
    const uint8_t* tail = p + 8 * words;
    for (size_t i = rest; i-- > 0;) v = (v << 8) | tail[i];
    h = (h ^ fasthash_mix(v)) * m;
  }
  return fasthash_mix(h);
}

// fasthash64 of a 32-bit value taken as its 4 little-endian bytes.
inline uint64_t fasthash_u32(uint32_t v) {
  return fasthash64(&v, 4);
}

}  // namespace vesk
