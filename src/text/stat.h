// log2(a!) for non-negative a: the building block of the code-length cost
// that the word ordering minimises. Small arguments come from a table built
// once at start-up, large ones from Stirling's formula.
#pragma once

#include <cstdint>

namespace vesk {

constexpr int32_t log2_fact_table_size = 100'000;

// Builds the table in the arena; it stays there for the whole run.
void stat_init();

double log2_fact(int32_t a);

// ln a for a > 0, correctly rounded, computed alike on every x86-64 CPU.
double log_int(int32_t a);

}  // namespace vesk
