#include "coding/nibble_table.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

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

// Clears [lo, hi) of the block. Below `used` the pages are this table's
// own, touched already: cleared by hand at memory speed. Above it, pages
// may hold what earlier blocks left ([garbage_lo, garbage_hi)): they go back
// to the kernel, which costs nothing for pages that were never touched
// (clearing those by hand would fault them all in). hi must reach past
// `used` or lo must stay below it, so the garbage stays one interval.
void clear_range(table_storage& s, uint64_t lo, uint64_t hi) {
  const uint64_t mine = std::min(hi, s.used);
  if (lo < mine) std::memset(s.block + lo, 0, mine - lo);
  const uint64_t g_lo = std::max({lo, s.used, s.garbage_lo}), g_hi = std::min(hi, s.garbage_hi);
  if (g_lo < g_hi) {
    constexpr uint64_t page = 4096;
    const uint64_t lo_page = (g_lo + page - 1) & ~(page - 1), hi_page = g_hi & ~(page - 1);
    if (lo_page >= hi_page) {
      std::memset(s.block + g_lo, 0, g_hi - g_lo);
    } else {
      std::memset(s.block + g_lo, 0, lo_page - g_lo);
      std::memset(s.block + hi_page, 0, g_hi - hi_page);
      check(madvise(s.block + lo_page, hi_page - lo_page, MADV_DONTNEED) == 0, "madvise");
    }
  }
  if (hi > s.garbage_lo && lo <= std::max(s.used, s.garbage_lo)) s.garbage_lo = hi;
}

void clear_front(table_storage& s, uint64_t n) {
  clear_range(s, 0, n);
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
  while (4 * (s.map.used + selections) > 3 * entries) entries <<= 1;
  const uint64_t old_bytes = old_entries * entry_bytes;

  if (entries <= s.map_limit) {
    // Copy the old map behind the new one, clear the new one's area, and
    // insert the entries again. The block is the table's size, and the map
    // is at most 1/4 of it, so both fit.
    uint8_t* copy = s.block + entries * entry_bytes;
    std::memcpy(copy, s.block, old_bytes);
    clear_front(s, entries * entry_bytes);
    const uint64_t used = s.map.used;
    place_map(s, entries);
    reinsert(s.map, copy, reinterpret_cast<const uint32_t*>(copy + old_entries * 64), old_entries,
             s.map.shift);
    check(s.map.used == used, "s.map.used==used");
    uint64_t end = entries * entry_bytes + old_bytes;
    if (end > s.used) s.used = end;
    return;
  }

  // Move to the direct layout: every bucket to its own place in the block.
  // Buckets whose place lies beyond the map go there at once; the few whose
  // place lies inside the map's own bytes wait in a side list until the map
  // is cleared.
  const uint8_t* buckets = s.block;
  const auto* keys = reinterpret_cast<const uint32_t*>(s.block + old_entries * 64);
  clear_range(s, old_bytes, s.bytes);
  std::vector<std::pair<uint64_t, std::array<uint8_t, 64>>> inside;
  for (uint64_t e = 0; e < old_entries; e++) {
    if (keys[e] == 0) continue;
    const uint64_t at = (uint64_t{keys[e]} - 1) * 64;
    if (at >= old_bytes) {
      std::memcpy(s.block + at, buckets + e * 64, 64);
    } else {
      inside.emplace_back(at, std::array<uint8_t, 64>{});
      std::memcpy(inside.back().second.data(), buckets + e * 64, 64);
    }
  }
  clear_range(s, 0, old_bytes);
  for (const auto& [at, b] : inside) std::memcpy(s.block + at, b.data(), 64);
  s.used = s.bytes;
  s.compact = false;
}

void table_close(table_storage& s) {
  arena_free(s.block);
  s = table_storage{};
}

}  // namespace vesk
