// log2(a!) for non-negative a: the building block of the code-length cost
// that the word ordering minimises. Small arguments come from a table built
// once, large ones from Stirling's formula.
#pragma once

#include <cstdint>

namespace vesk {

constexpr int32_t log2_fact_table_size = 100'000;

// The table of log2(a!) for a < log2_fact_table_size, built on first use
// (by whichever thread comes first; the others wait for it), and the
// formula past it (a negative argument stops the run).
const double* log2_fact_table();
double log2_fact_large(int32_t a);

// log2(a!) by the table t = log2_fact_table(). Inline, with the table
// fetched once by the caller: the word ordering calls it twice for every
// context entry it moves.
inline double log2_fact(const double* t, int32_t a) {
  if (static_cast<uint32_t>(a) < static_cast<uint32_t>(log2_fact_table_size)) return t[a];
  return log2_fact_large(a);
}
inline double log2_fact(int32_t a) {
  return log2_fact(log2_fact_table(), a);
}

// ln a for a > 0, correctly rounded, computed alike on every x86-64 CPU.
double log_int(int32_t a);

}  // namespace vesk
