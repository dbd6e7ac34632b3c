#include "text/sort.h"

#include <algorithm>
#include <cstring>

#include "util/big_buffer.h"
#include "util/fail.h"

namespace vesk {

void rank_sort(uint32_t* base, int64_t count, int n, int pos) {
  check(pos < n, "pos<n");
  if (count < 2) return;
  big_vector<uint32_t> index(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; i++) index[static_cast<size_t>(i)] = static_cast<uint32_t>(i);
  std::stable_sort(index.begin(), index.end(), [&](uint32_t x, uint32_t y) {
    return base[size_t{x} * n + pos] > base[size_t{y} * n + pos];
  });
  big_vector<uint32_t> gathered(static_cast<size_t>(count) * n);
  for (size_t i = 0; i < index.size(); i++)
    std::memcpy(&gathered[i * n], &base[size_t{index[i]} * n], sizeof(uint32_t) * n);
  std::memcpy(base, gathered.data(), gathered.size() * sizeof(uint32_t));
}

}  // namespace vesk
