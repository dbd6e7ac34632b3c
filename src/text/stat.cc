#include "text/stat.h"

#include <cmath>

#include "util/arena.h"
#include "util/fail.h"

namespace vesk {

namespace {
constexpr double ln2 = 0.6931471805599453;
constexpr double stirling = 1.325748064715542;
double* table = nullptr;
}  // namespace

void stat_init() {
  table = reinterpret_cast<double*>(arena_alloc(log2_fact_table_size * sizeof(double)));
  table[0] = 0;
  for (int32_t a = 1; a < log2_fact_table_size; a++) table[a] = table[a - 1] + std::log(a) / ln2;
}

double log2_fact(int32_t a) {
  check(a >= 0, "a>=0");
  if (a < log2_fact_table_size) return table[a];
  return (std::log(a) * (a + 0.5) - a) / ln2 + stirling;
}

}  // namespace vesk
