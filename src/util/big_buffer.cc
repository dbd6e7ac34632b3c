#include "util/big_buffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace vesk {

namespace {
constexpr size_t huge_page = size_t{1} << 21;
constexpr size_t big_min = size_t{1} << 20;
}  // namespace

void advise_huge_pages(void* p, size_t bytes) {
  const auto at = reinterpret_cast<uintptr_t>(p);
  const uintptr_t lo = (at + huge_page - 1) & ~(huge_page - 1);
  const uintptr_t hi = (at + bytes) & ~(huge_page - 1);
  if (hi > lo) madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
}

void* big_alloc(size_t bytes) {
  if (bytes < big_min) return std::malloc(bytes);
  const size_t rounded = (bytes + huge_page - 1) & ~(huge_page - 1);
  if (rounded < bytes) return nullptr;
  void* p = std::aligned_alloc(huge_page, rounded);
  if (p != nullptr) advise_huge_pages(p, rounded);
  return p;
}

void big_free(void* p) {
  std::free(p);
}

}  // namespace vesk
