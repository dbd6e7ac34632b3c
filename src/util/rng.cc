#include "util/rng.h"

namespace vesk {

namespace {
constexpr uint64_t multiplier = 0x106689d45497fdb5;
// Each thread draws from its own generator, so streams coded side by side
// draw the same keys as they would alone.
thread_local uint64_t s[16];
thread_local int p = 0;
}  // namespace

void rng_seed(uint64_t seed) {
  s[0] = seed;
  for (int i = 1; i < 16; i++) s[i] = (s[i - 1] ^ (s[i - 1] >> 30)) * multiplier;
  p = 15;
}

uint64_t rng_next() {
  uint64_t s0 = s[p];
  p = (p + 1) & 15;
  uint64_t s1 = s[p];
  s1 ^= s1 << 31;
  s[p] = s1 ^ s0 ^ (s1 >> 11) ^ (s0 >> 30);
  return s[p] * multiplier;
}

}  // namespace vesk
