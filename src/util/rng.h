// The process-wide pseudo-random generator (xorshift1024*). Every model
// seeds it with 1 before drawing its keys, so the keys never depend on which
// models ran before and both directions draw the same values.
#pragma once

#include <cstdint>

namespace vesk {

void rng_seed(uint64_t seed);
uint64_t rng_next();

}  // namespace vesk
