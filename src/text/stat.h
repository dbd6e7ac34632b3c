// log2(a!) for non-negative a: the building block of the code-length cost
// that the word ordering minimises. Small arguments come from a table built
// once at start-up, large ones from Stirling's formula.
#pragma once

#include <cstdint>

namespace vesk {

constexpr int32_t log2_fact_table_size = 100'000;

// Builds the table in the arena; it stays there for the whole run.
void stat_init();

// The table of log2(a!) for a < log2_fact_table_size, and the formula
// past it (a negative argument stops the run).
extern const double* log2_fact_small;
double log2_fact_large(int32_t a);

// Inline: the word ordering calls it twice for every context entry it moves.
inline double log2_fact(int32_t a) {
  if (static_cast<uint32_t>(a) < static_cast<uint32_t>(log2_fact_table_size))
    return log2_fact_small[a];
  return log2_fact_large(a);
}

// ln a for a > 0, correctly rounded, computed alike on every x86-64 CPU.
double log_int(int32_t a);

}  // namespace vesk
