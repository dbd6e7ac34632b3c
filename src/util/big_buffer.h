// Buffers that grow with the input, on 2 MiB pages where the system offers
// them. Every first touch of a page is a fault, and on virtual machines a
// fault can cost tens of microseconds: a 50 MB buffer on 4 KiB pages takes
// 12,800 of them, on 2 MiB pages 25. The arena's tables have huge pages of
// their own; these serve the transforms' and the stored method's buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "util/memory_limits.h"

namespace vesk {

// Asks for 2 MiB pages over the whole 2 MiB pages inside [p, p + bytes).
// Pages touched already stay as they are.
void advise_huge_pages(void* p, size_t bytes);

// Like malloc (uninitialised, nullptr when out of memory); blocks of a
// megabyte or more are aligned to 2 MiB and advised. Freed by big_free.
void* big_alloc(size_t bytes);
void big_free(void* p);

template <class T>
struct big_allocator {
  using value_type = T;
  big_allocator() = default;
  template <class U>
  big_allocator(const big_allocator<U>&) {}
  T* allocate(size_t n) {
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    if (void* p = big_alloc(n * sizeof(T))) return static_cast<T*>(p);
    refuse_memory(static_cast<int64_t>(n * sizeof(T)));
  }
  void deallocate(T* p, size_t) { big_free(p); }
  template <class U>
  bool operator==(const big_allocator<U>&) const {
    return true;
  }
};

template <class T>
using big_vector = std::vector<T, big_allocator<T>>;

}  // namespace vesk
