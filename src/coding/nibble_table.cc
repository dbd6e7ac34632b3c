#include "coding/nibble_table.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "util/arena.h"
#include "util/fail.h"
#include "util/prefault.h"

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

// Makes the block at least `bytes` long. It doubles at least, where the
// address-space limit allows, so that it moves seldom (untouched pages
// cost nothing); requests to fault in its pages are dropped first (their
// addresses may go stale) and asked for again after.
void ensure(table_storage& s, uint64_t bytes) {
  if (bytes <= s.capacity) return;
  const uint64_t most = s.index_bytes + 64 * s.bound;
  const uint64_t want = std::min(std::max(bytes, 2 * s.capacity), most);
  prefault_cancel(s.block, s.block + s.capacity);
  const arena_growth g =
      arena_grow(s.block, static_cast<int64_t>(bytes), static_cast<int64_t>(std::max(want, bytes)));
  s.block = g.block;
  s.capacity = static_cast<uint64_t>(g.usable);
  s.dirty = static_cast<uint64_t>(g.dirty);
  s.map.index = reinterpret_cast<uint64_t*>(s.block + s.index_bytes) - (s.map.mask + 1);
  s.map.buckets = reinterpret_cast<uint16_t*>(s.block + s.index_bytes);
  s.ahead = s.ready;
  if (s.index_ahead) {
    const uint64_t cap = s.map.mask + 1;
    prefault(s.block + s.index_bytes - 16 * cap, s.block + s.index_bytes - 8 * cap);
  }
}

int log2_of(uint64_t pow2) {
  return 63 - __builtin_clzll(pow2);
}

uint64_t index_capacity(const table_storage& s) {
  return s.map.mask + 1;
}

// A call whose table may grow past this many slots (4 MiB) has its pages
// faulted in ahead; a smaller one would only pay for the thread.
constexpr uint64_t prefault_min_slots = uint64_t{1} << 16;

// The index's next doubling comes at 3/4 of its capacity; its pages are
// asked for at 23/32, early enough for the prefault thread to be done, late
// enough that a stream ending short of the doubling wastes little.
uint64_t index_ask_at(uint64_t cap) {
  return cap / 32 * 23;
}

// Whether the next doubling's index is yet to be asked for: it must be
// large enough to matter and the call must be able to reach the doubling.
bool index_to_ask(const table_storage& s) {
  const uint64_t cap = index_capacity(s);
  return s.bound >= prefault_min_slots && !s.index_ahead && cap < s.index_bytes / 8 &&
         8 * cap >= (uint64_t{2} << 20) && s.bound > cap / 4 * 3;
}

// Recomputes the slots that may be taken before the next growth: up to 3/4
// of the index (an index as large as the table can never overflow, since
// it has an entry for every bucket), up to the cleared dense slots (the
// call's bound of them at most), and up to the point where the next
// doubling's index pages are asked for.
void set_room(table_storage& s) {
  const uint64_t buckets = s.bytes / 64, cap = index_capacity(s);
  const uint64_t index_room = cap >= buckets ? all_room : cap / 4 * 3;
  const uint64_t dense_room = s.ready;
  const uint64_t ask_room = index_to_ask(s) ? index_ask_at(cap) : all_room;
  s.map.room = std::min({index_room, dense_room, ask_room});
}

uint8_t* dense_at(const table_storage& s, uint64_t slot) {
  return s.block + s.index_bytes + 64 * slot;
}

// Dense slots are cleared, and asked for ahead, in steps of a sixteenth of
// what is ready, at least 64 KiB and at most 8 MiB: the prefault thread
// faults in a step well before the stream has used up the one before, and
// what is cleared or faulted in before its use stays within two steps.
uint64_t dense_step(uint64_t ready) {
  return std::clamp<uint64_t>(ready / 16, 1024, uint64_t{1} << 17);
}

// Clears dense slots up to at least `need` (at most the call's bound),
// and asks for the pages of the step after that to be faulted in.
void extend_dense(table_storage& s, uint64_t need) {
  const uint64_t ready = std::min(std::max(need, s.ready + dense_step(s.ready)), s.bound);
  const bool ask = s.bound >= prefault_min_slots;
  const uint64_t next = ask ? std::min(ready + dense_step(ready), s.bound) : ready;
  ensure(s, s.index_bytes + 64 * next);
  prepare(s, s.index_bytes + 64 * s.ready, s.index_bytes + 64 * ready);
  s.ready = ready;
  if (!ask) return;
  const uint64_t from = std::max(s.ahead, ready);
  if (next > from) {
    prefault(dense_at(s, from), dense_at(s, next));
    s.ahead = next;
  }
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
  s.index_ahead = false;
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

table_storage table_open(table_shape shape, uint64_t selections, const table_layout& layout) {
  table_storage s;
  s.bytes = uint64_t{1} << shape.log2_bytes;
  s.direct.shift = shape.shift();
  s.map.shift = shape.shift();
  const uint64_t buckets = s.bytes / 64;
  s.report = layout.report;
  int64_t dirty;
  if (layout.direct) {
    // The reference layout for tests: every dirty page is handed back.
    s.block = arena_alloc_dirty(static_cast<int64_t>(s.bytes), &dirty);
    if (dirty > 0)
      check(madvise(s.block, static_cast<size_t>(dirty), MADV_DONTNEED) == 0, "madvise");
    s.direct.base = reinterpret_cast<uint16_t*>(s.block);
    return s;
  }
  s.compact = true;
  s.bound = std::min(selections, buckets);
  uint64_t entries = first_index_min;
  while (entries < 2 * selections && entries < first_index_max) entries <<= 1;
  if (layout.first_index) entries = layout.first_index;
  entries = std::min(entries, buckets);
  check((entries & (entries - 1)) == 0, "first index a power of two");
  // The largest index the call can reach: table_grow doubles it while the
  // slots wanted (never more than the bound) exceed 3/4 of it.
  uint64_t most_entries = entries;
  while (most_entries < buckets && 4 * s.bound > 3 * most_entries) most_entries <<= 1;
  s.index_bytes = 8 * most_entries;
  const uint64_t first_dense = std::min(entries, s.bound);
  s.capacity = s.index_bytes + 64 * first_dense;
  s.block = arena_alloc_growable(static_cast<int64_t>(s.capacity), &dirty);
  s.dirty = static_cast<uint64_t>(dirty);
  prepare(s, s.index_bytes - entries * 8, s.index_bytes);
  place_index(s, entries);
  s.map.buckets = reinterpret_cast<uint16_t*>(s.block + s.index_bytes);
  extend_dense(s, first_dense);
  set_room(s);
  return s;
}

void table_grow(table_storage& s, uint64_t selections) {
  check(s.compact, "s.compact");
  const uint64_t need = s.map.used + selections;
  while (8 * index_capacity(s) < s.index_bytes && 4 * need > 3 * index_capacity(s))
    double_index(s);
  if (index_to_ask(s) && need > index_ask_at(index_capacity(s))) {
    const uint64_t cap = index_capacity(s);
    prefault(s.block + s.index_bytes - 16 * cap, s.block + s.index_bytes - 8 * cap);
    s.index_ahead = true;
  }
  if (s.ready < need && s.ready < s.bound) extend_dense(s, need);
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
  if (s.compact) prefault_cancel(s.block, s.block + s.capacity);
  arena_free(s.block);
  s = table_storage{};
}

}  // namespace vesk
