#include "util/hash_table.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "util/big_buffer.h"
#include "util/fail.h"
#include "util/fasthash.h"
#include "util/memory_limits.h"

namespace vesk {

void hash_create(hash_table& ht, int32_t l) {
  check(ht.allocated == 0, "ht->allocated==0");
  check(l > 0 && (l & (l - 1)) == 0, "l is a power of two");
  ht.count = 0;
  ht.l = ht.lc = l;
  ht.size = static_cast<int32_t>(1.3 * l);
  ht.mask = l - 1;
  ht.a = static_cast<hash_entry*>(std::calloc(static_cast<size_t>(ht.size), sizeof(hash_entry)));
  if (ht.a == nullptr) refuse_memory(static_cast<int64_t>(ht.size) * int64_t{sizeof(hash_entry)});
  // Entries are touched in random order, so every page of the table
  // faults in. A calloc of fresh memory leaves its pages untouched, so the
  // advice comes before their first touch; reused heap pages keep theirs.
  advise_huge_pages(ht.a, static_cast<size_t>(ht.size) * sizeof(hash_entry));
  ht.allocated = 1;
}

void hash_free(hash_table& ht) {
  check(ht.allocated == 1, "ht->allocated==1");
  std::free(ht.a);
  ht = hash_table{};
}

namespace {

// The overflow area is full (keys crafted to share their primary entries
// can fill it long before the table holds its most keys): double it.
// Entries keep their indices, so every chain stays as it is. Returns the
// first new entry.
int32_t grow_overflow(hash_table& ht) {
  const int64_t old_size = ht.size;
  const int64_t size = std::min<int64_t>(old_size + (old_size - ht.l) + 1024, INT32_MAX);
  check(size > old_size, "ht->size<INT32_MAX");
  auto* a = static_cast<hash_entry*>(std::realloc(ht.a, static_cast<size_t>(size) * sizeof(hash_entry)));
  if (a == nullptr) refuse_memory((size - old_size) * int64_t{sizeof(hash_entry)});
  std::memset(a + old_size, 0, static_cast<size_t>(size - old_size) * sizeof(hash_entry));
  ht.a = a;
  ht.size = static_cast<int32_t>(size);
  return static_cast<int32_t>(old_size);
}

}  // namespace

int32_t hash_insert(hash_table& ht, const void* bytes, size_t len, int32_t value) {
  const uint64_t h = fasthash64(bytes, len);
  int32_t i = static_cast<int32_t>(h & static_cast<uint32_t>(ht.mask));
  int32_t s = i;
  if (ht.a[i].key != 0) {
    for (;;) {
      if (ht.a[i].key == h) return ~ht.a[i].value;
      int32_t j = ht.a[i].next;
      if (j == 0) {
        // Append at the free overflow entry and move lc to the next one.
        s = ht.lc;
        ht.a[i].next = s;
        int32_t k = s + 1;
        while (k < ht.size && ht.a[k].key != 0) k++;
        if (k == ht.size) {
          k = ht.l;
          while (k < s && ht.a[k].key != 0) k++;
          if (k == s) k = grow_overflow(ht);
        }
        ht.lc = k;
        break;
      }
      if (ht.a[j].key == 0) {
        s = j;
        break;
      }
      i = j;
    }
  }
  ht.a[s].key = h;
  ht.a[s].value = value;
  ht.count++;
  check(ht.count < static_cast<int32_t>(0.8 * ht.l), "ht->count<(int)(.8*ht->l)");
  return value;
}

bool hash_full(const hash_table& ht) {
  return ht.count + 1 >= static_cast<int32_t>(0.8 * ht.l);
}

int32_t hash_find(const hash_table& ht, const void* bytes, size_t len) {
  const uint64_t h = fasthash64(bytes, len);
  int32_t i = static_cast<int32_t>(h & static_cast<uint32_t>(ht.mask));
  while (ht.a[i].key != 0) {
    if (ht.a[i].key == h) return ht.a[i].value;
    i = ht.a[i].next;
    if (i == 0) break;
  }
  return -1;
}

}  // namespace vesk
