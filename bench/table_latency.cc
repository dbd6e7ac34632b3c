// Benchmark: what a bucket selection costs once the table outgrows the
// caches. A table of the 2 GiB shape is filled with N distinct buckets;
// then each step selects K of them at random and reads a slot of each, and
// the next step's choice depends on what it read, as a decoder's next
// nibble depends on the last. Prints nanoseconds per step (median of 3 runs) for the compact
// layout the models use (an index entry, then the bucket) and for the
// direct layout (the bucket alone, one load, but the whole table's pages).
// Usage: bench_table_latency [N] [K...]   (defaults: 12000000, 1 6 12)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "util/call.h"
#include "util/cores.h"
#include "util/prefault.h"
#include "coding/nibble_table.h"
#include "util/arena.h"

using namespace vesk;

namespace {

uint64_t scramble(uint64_t x) {
  x ^= x >> 31;
  x *= 0x9E3779B97F4A7C15;
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9;
  return x ^ (x >> 32);
}

// The hash of bucket number i of the N: its high bits pick the bucket.
uint64_t bucket_hash(uint64_t i) {
  return scramble(i + 12345);
}

template <class Table>
double run_steps(Table& t, uint64_t n, int k, int steps) {
  uint64_t seed = 1, sum = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (int step = 0; step < steps; step++) {
    uint64_t x = 0;
    for (int c = 0; c < k; c++) t.prefetch_index(bucket_hash(scramble(seed + c) % n));
    for (int c = 0; c < k; c++) {
      const uint64_t h = bucket_hash(scramble(seed + c) % n);
      x += select(t, h)[1 + (seed & 7)];
    }
    seed = scramble(seed + x);
    sum += x;
  }
  const double ns =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
  if (sum == 1) std::printf(" ");  // keeps the loads
  return ns / steps;
}

double measure(uint64_t n, int k, bool direct, double* mbytes) {
  table_layout limits;
  limits.direct = direct;
  table_storage s = table_open(table_2g, n, limits);
  for (uint64_t i = 0; i < n; i++) {
    if (s.compact && !s.map.has_room(1)) table_grow(s, 1);
    uint16_t* w = s.compact ? select(s.map, bucket_hash(i)) : select(s.direct, bucket_hash(i));
    w[1] = 1;
  }
  *mbytes = s.compact ? static_cast<double>(table_measure(s).bytes_touched) / 1e6
                      : static_cast<double>(s.bytes) / 1e6;
  const int steps = 300000;
  std::vector<double> t;
  for (int r = 0; r < 3; r++)
    t.push_back(s.compact ? run_steps(s.map, n, k, steps) : run_steps(s.direct, n, k, steps));
  table_close(s);
  std::sort(t.begin(), t.end());
  return t[1];
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t n = 12000000;
  std::vector<int> ks;
  if (argc > 1) n = std::strtoull(argv[1], nullptr, 10);
  for (int i = 2; i < argc; i++) ks.push_back(std::atoi(argv[i]));
  if (ks.empty()) ks = {1, 6, 12};
  // A call of the core's: a prefaulter, the cores for streams side by side.
  call_state core_call;
  core_call.threads = usable_cores();
  prefault_queue prefaulter;
  core_call.prefault = &prefaulter;
  const call_scope scope(core_call);
  std::printf("%12s %4s %14s %10s %14s %10s\n", "buckets", "K", "compact ns", "MB", "direct ns",
              "MB");
  for (int k : ks) {
    double mc = 0, md = 0;
    const double c = measure(n, k, false, &mc);
    const double d = measure(n, k, true, &md);
    std::printf("%12llu %4d %14.1f %10.0f %14.1f %10.0f\n", static_cast<unsigned long long>(n), k,
                c, mc, d, md);
  }
  return 0;
}
