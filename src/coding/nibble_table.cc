#include "coding/nibble_table.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#include "util/arena.h"
#include "util/fail.h"

namespace vesk {

namespace {

// Bytes per map entry: the 64-byte bucket and its 4-byte key.
constexpr uint64_t entry_bytes = 68;
constexpr uint64_t first_entries_min = 1024;
constexpr uint64_t first_entries_max = uint64_t{1} << 16;

// The map moves to the direct layout when its buckets would exceed 1/4 of
// the table. Measured here (virtual machines that back memory lazily, huge
// pages): the map costs two cache lines per selection against one, but it
// touches memory in proportion to the buckets used, while the direct table
// touches a 2 MiB page per distinct region, which for a few hundred
// thousand buckets is already every page of the table.
constexpr int map_limit_shift = 2;

uint64_t first_entries_override = 0;
uint64_t map_limit_override = 0;

// Clears the first n bytes of the block. What this table touched itself is
// backed memory and is cleared by hand at memory speed; what earlier blocks
// may have left is handed back to the kernel, which costs nothing for pages
// that were never touched (clearing those by hand would fault them all in).
void clear_front(table_storage& s, uint64_t n) {
  const uint64_t mine = n < s.used ? n : s.used;
  std::memset(s.block, 0, mine);
  uint64_t lo = mine > s.garbage_lo ? mine : s.garbage_lo;
  uint64_t hi = n < s.garbage_hi ? n : s.garbage_hi;
  if (lo < hi) {
    constexpr uint64_t page = 4096;
    uint64_t lo_page = (lo + page - 1) & ~(page - 1), hi_page = hi & ~(page - 1);
    if (lo_page >= hi_page) {
      std::memset(s.block + lo, 0, hi - lo);
    } else {
      std::memset(s.block + lo, 0, lo_page - lo);
      std::memset(s.block + hi_page, 0, hi - hi_page);
      check(madvise(s.block + lo_page, hi_page - lo_page, MADV_DONTNEED) == 0, "madvise");
    }
  }
  if (n > s.garbage_lo) s.garbage_lo = n;
}

void place_map(table_storage& s, uint64_t entries) {
  int bits = 0;
  while ((uint64_t{1} << bits) < entries) bits++;
  s.map.buckets = reinterpret_cast<uint16_t*>(s.block);
  s.map.keys = reinterpret_cast<uint32_t*>(s.block + entries * 64);
  s.map.mask = entries - 1;
  s.map.used = 0;
  s.map.home_shift = 64 - bits;
}

// Re-inserts the entries of an old map (buckets, keys, capacity) into the
// current map or the direct layout.
template <class Table>
void reinsert(Table& t, const uint8_t* buckets, const uint32_t* keys, uint64_t entries, int shift) {
  for (uint64_t e = 0; e < entries; e++) {
    if (keys[e] == 0) continue;
    uint64_t h = (uint64_t{keys[e]} - 1) << shift;
    std::memcpy(t.bucket(h), buckets + e * 64, 64);
  }
}

}  // namespace

void table_set_limits(uint64_t first_entries, uint64_t map_limit_entries) {
  first_entries_override = first_entries;
  map_limit_override = map_limit_entries;
}

table_storage table_open(table_shape shape, uint64_t selections) {
  table_storage s;
  s.bytes = uint64_t{1} << shape.log2_bytes;
  int64_t dirty;
  s.block = arena_alloc_dirty(static_cast<int64_t>(s.bytes), &dirty);
  s.garbage_hi = static_cast<uint64_t>(dirty);
  s.map_limit = map_limit_override ? map_limit_override : (s.bytes >> map_limit_shift) / 64;
  s.direct.base = reinterpret_cast<uint16_t*>(s.block);
  s.direct.shift = shape.shift();
  s.map.shift = shape.shift();
  uint64_t entries = first_entries_min;
  while (entries < 2 * selections && entries < first_entries_max) entries <<= 1;
  if (first_entries_override) entries = first_entries_override;
  if (entries > s.map_limit) {  // direct from the start
    clear_front(s, s.bytes);
    s.used = s.bytes;
    return s;
  }
  s.compact = true;
  clear_front(s, entries * entry_bytes);
  place_map(s, entries);
  s.used = entries * entry_bytes;
  return s;
}

void table_grow(table_storage& s, uint64_t selections) {
  check(s.compact, "s.compact");
  const uint64_t old_entries = s.map.mask + 1;
  uint64_t entries = old_entries;
  while (2 * (s.map.used + selections) > entries) entries <<= 1;
  const uint64_t old_bytes = old_entries * entry_bytes;

  if (entries <= s.map_limit) {
    // Copy the old map behind the new one, clear the new one's area, and
    // insert the entries again. The block is the table's size, and the map
    // is at most 1/8 of it, so both fit.
    uint8_t* copy = s.block + entries * entry_bytes;
    std::memcpy(copy, s.block, old_bytes);
    clear_front(s, entries * entry_bytes);
    const uint64_t used = s.map.used;
    place_map(s, entries);
    reinsert(s.map, copy, reinterpret_cast<const uint32_t*>(copy + old_entries * 64),
             old_entries, s.map.shift);
    check(s.map.used == used, "s.map.used==used");
    uint64_t end = entries * entry_bytes + old_bytes;
    if (end > s.used) s.used = end;
    return;
  }

  // Move to the direct layout: every bucket to its own place in the block.
  auto* copy = static_cast<uint8_t*>(std::malloc(old_bytes));
  check(copy != nullptr, "copy!=NULL");
  std::memcpy(copy, s.block, old_bytes);
  clear_front(s, s.bytes);
  s.used = s.bytes;
  s.compact = false;
  reinsert(s.direct, copy, reinterpret_cast<const uint32_t*>(copy + old_entries * 64),
           old_entries, s.direct.shift);
  std::free(copy);
}

void table_close(table_storage& s) {
  arena_free(s.block);
  s = table_storage{};
}

}  // namespace vesk
