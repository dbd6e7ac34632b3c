// Stable sort of fixed-size records of 32-bit words by one key word,
// descending: records with equal keys keep their input order, which makes
// the frequency ranking (and so the compressed format) deterministic.
#pragma once

#include <cstdint>

namespace vesk {

// count records of n words each at base; the key is word pos of a record.
void rank_sort(uint32_t* base, int64_t count, int n, int pos);

}  // namespace vesk
