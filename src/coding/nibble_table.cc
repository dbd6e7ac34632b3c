#include "coding/nibble_table.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "util/arena.h"
#include "util/fail.h"

namespace vesk {

namespace {

constexpr uint64_t first_index_min = 1024;
constexpr uint64_t first_index_max = uint64_t{1} << 16;
constexpr uint64_t all_room = ~uint64_t{0};

// Makes [lo, hi) of the block read as zero for a table that has not used it
// yet. Pages that earlier blocks of the arena touched are cleared by hand
// (they are resident already, and handing them back would only make the
// kernel fault them in and clear them again); beyond those the pages were
// never touched and read as zero.
void prepare(const table_storage& s, uint64_t lo, uint64_t hi) {
  const uint64_t end = std::min(hi, s.dirty);
  if (lo < end) std::memset(s.block + lo, 0, end - lo);
}

int log2_of(uint64_t pow2) {
  return 63 - __builtin_clzll(pow2);
}

uint64_t index_capacity(const table_storage& s) {
  return s.map.mask + 1;
}

// Recomputes the slots that may be taken before the next growth: up to 3/4
// of the index (an index as large as the table can never overflow, since
// it has an entry for every bucket) and up to the cleared dense slots.
void set_room(table_storage& s) {
  const uint64_t buckets = s.bytes / 64, cap = index_capacity(s);
  const uint64_t index_room = cap >= buckets ? all_room : cap / 4 * 3;
  const uint64_t dense_room = s.ready >= buckets ? all_room : s.ready;
  s.map.room = std::min(index_room, dense_room);
}

// Clears dense slots up to at least `need`, in steps of a quarter of what
// is ready, so that clearing by hand stays close to what the stream uses.
void extend_dense(table_storage& s, uint64_t need) {
  const uint64_t buckets = s.bytes / 64;
  uint64_t ready = std::max(need, s.ready + s.ready / 4 + 1024);
  ready = std::min(ready, buckets);
  const uint64_t lo = s.index_bytes + 64 * s.ready, hi = s.index_bytes + 64 * ready;
  prepare(s, lo, hi);
  // Beyond the dirty pages the rest of the block is zero already.
  s.ready = hi >= s.dirty ? buckets : ready;
}

// The index ends where the dense buckets begin, so that a small stream's
// index and buckets share their first pages (a 2 MiB page each, where the
// system backs the arena with huge pages).
void place_index(table_storage& s, uint64_t entries) {
  s.map.index = reinterpret_cast<uint64_t*>(s.block + s.index_bytes - 8 * entries);
  s.map.mask = entries - 1;
  s.map.home_shift = s.map.shift > 0 ? (64 - s.map.shift) - log2_of(entries) : 0;
}

// Doubles the index in place. The doubled index ends where the old one
// ends, so the old entries sit in its back half; each is read out (its slot
// cleared) before the probing of the new index reaches its place, and they
// are reinserted in their order, which is close to the order of their new
// homes: the reinsertion walks the new index front to back, a little behind
// the reading. Entries that wrapped around the old index's end (the run at
// its front whose homes lie behind them) are set aside first and inserted
// last. No copy of the whole index is ever made.
void double_index(table_storage& s) {
  const uint64_t old_cap = index_capacity(s);
  const int old_home_shift = s.map.home_shift;
  prepare(s, s.index_bytes - 2 * old_cap * 8, s.index_bytes - old_cap * 8);
  place_index(s, 2 * old_cap);
  compact_table& m = s.map;
  uint64_t* old = m.index + old_cap;
  auto home_of = [](uint64_t v, int shift) { return ((v >> 32) - 1) >> shift; };
  std::vector<uint64_t> wrapped;
  for (uint64_t p = 0; p < old_cap && old[p] != 0; p++) {
    if (home_of(old[p], old_home_shift) > p) {
      wrapped.push_back(old[p]);
      old[p] = 0;
    }
  }
  std::deque<uint64_t> pending;  // read out, not yet reinserted
  uint64_t read = 0;             // old entries [0, read) are read out
  // Reads old entries out until slot w of the new index holds none.
  auto read_up_to = [&](uint64_t w) {
    for (; read < old_cap && old_cap + read <= w; read++) {
      if (old[read] != 0) pending.push_back(old[read]);
      old[read] = 0;
    }
  };
  auto insert = [&](uint64_t v) {
    uint64_t e = home_of(v, m.home_shift);
    for (;; e = (e + 1) & m.mask) {
      read_up_to(e);
      if (m.index[e] == 0) break;
    }
    m.index[e] = v;
  };
  while (read < old_cap || !pending.empty()) {
    if (pending.empty()) {
      read_up_to(old_cap + read);
      continue;
    }
    const uint64_t v = pending.front();
    pending.pop_front();
    insert(v);
  }
  for (uint64_t v : wrapped) insert(v);
}

}  // namespace

table_storage table_open(table_shape shape, uint64_t selections, const table_limits& limits) {
  table_storage s;
  s.bytes = uint64_t{1} << shape.log2_bytes;
  s.direct.shift = shape.shift();
  s.map.shift = shape.shift();
  const uint64_t buckets = s.bytes / 64;
  s.report = limits.report;
  int64_t dirty;
  if (limits.direct) {
    // The reference layout for tests: every dirty page is handed back.
    s.block = arena_alloc_dirty(static_cast<int64_t>(s.bytes), &dirty);
    if (dirty > 0)
      check(madvise(s.block, static_cast<size_t>(dirty), MADV_DONTNEED) == 0, "madvise");
    s.direct.base = reinterpret_cast<uint16_t*>(s.block);
    return s;
  }
  s.compact = true;
  s.index_bytes = buckets * 8;
  s.block = arena_alloc_dirty(static_cast<int64_t>(s.index_bytes + s.bytes), &dirty);
  s.dirty = static_cast<uint64_t>(dirty);
  uint64_t entries = first_index_min;
  while (entries < 2 * selections && entries < first_index_max) entries <<= 1;
  if (limits.first_index) entries = limits.first_index;
  entries = std::min(entries, buckets);
  check((entries & (entries - 1)) == 0, "first index a power of two");
  prepare(s, s.index_bytes - entries * 8, s.index_bytes);
  place_index(s, entries);
  s.map.buckets = reinterpret_cast<uint16_t*>(s.block + s.index_bytes);
  extend_dense(s, std::min(entries, buckets));
  set_room(s);
  return s;
}

void table_grow(table_storage& s, uint64_t selections) {
  check(s.compact, "s.compact");
  const uint64_t need = s.map.used + selections, buckets = s.bytes / 64;
  while (index_capacity(s) < buckets && 4 * need > 3 * index_capacity(s)) double_index(s);
  if (s.ready < need && s.ready < buckets) extend_dense(s, need);
  set_room(s);
  check(s.map.has_room(selections), "s.map.has_room(selections)");
}

table_stats table_measure(const table_storage& s) {
  table_stats t;
  if (!s.compact) return t;
  t.buckets = s.map.used;
  t.index_entries = index_capacity(s);
  t.bytes_touched = 8 * t.index_entries + 64 * s.map.used;
  return t;
}

void table_close(table_storage& s) {
  if (s.report != nullptr) *s.report = table_measure(s);
  arena_free(s.block);
  s = table_storage{};
}

}  // namespace vesk
