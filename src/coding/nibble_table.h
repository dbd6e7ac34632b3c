// The hashed nibble-context table: the bit histories of the models' hashed
// contexts. A 64-bit context hash picks a 64-byte bucket by its high bits
// and carries a 16-bit tag in its low bits. A bucket has two 32-byte ways of
// sixteen 16-bit words: word 0 is the tag, words 1..15 the node slots of one
// nibble's binary tree. The first context to claim a bucket keeps way 0;
// every other context landing there shares way 1. Nothing is ever evicted.
//
// Slots are stored zero-fresh (see states.h), so a fresh table is all zero
// bytes. Two representations give identical coded output:
// - direct_table: the whole table (2 GiB or 8 GiB) as kernel zero pages;
//   only the pages a stream touches cost memory.
// - compact_table: only the buckets the stream has touched, in an
//   open-addressed map that doubles as it fills. Short streams touch few
//   buckets but spread them over every page of a direct table, so they live
//   in the map; once the map grows past a set size the buckets move to the
//   direct table and the stream goes on there.
// The models' per-byte loops are templates over the representation; at the
// start of each byte they ask the table for room and return to the caller
// (which grows the map or moves to the direct table) when there is none, so
// bucket pointers never move while a byte is coded.
#pragma once

#include <cstdint>

namespace vesk {

constexpr int bucket_words = 32;  // 64 bytes
constexpr int way_words = 16;

// Table geometry: log2 of its size in bytes; the bucket index is the top
// (log2_bytes - 6) bits of the hash.
struct table_shape {
  int log2_bytes;
  constexpr int bucket_bits() const { return log2_bytes - 6; }
  constexpr int shift() const { return 64 - bucket_bits(); }
};

constexpr table_shape table_2g{31};  // bucket offset (h >> 33) & 0x7FFFFFC0
constexpr table_shape table_8g{33};  // bucket offset (h >> 31) & 0x1FFFFFFC0

struct direct_table {
  uint16_t* base = nullptr;
  int shift = 0;

  uint16_t* bucket(uint64_t h) { return base + (h >> shift) * bucket_words; }
  void prefetch(uint64_t h) const { __builtin_prefetch(base + (h >> shift) * bucket_words, 1); }
  bool has_room(uint64_t) const { return true; }
};

struct compact_table {
  uint16_t* buckets = nullptr;  // capacity x 64 bytes
  uint32_t* keys = nullptr;     // bucket index + 1 per entry, 0 = free
  uint64_t mask = 0;            // capacity - 1
  uint64_t used = 0;            // entries taken
  int shift = 0;                // of the hash, to the bucket index
  int home_shift = 0;           // of the scrambled bucket index, to an entry

  uint64_t home(uint64_t index) const { return (index * 0x9E3779B97F4A7C15) >> home_shift; }

  uint16_t* bucket(uint64_t h) {
    uint64_t index = h >> shift;
    auto key = static_cast<uint32_t>(index + 1);
    uint64_t e = home(index);
    // has_room keeps the map at most three quarters full, so a free entry
    // is near.
    while (keys[e] != key) {
      if (keys[e] == 0) {
        keys[e] = key;
        used++;
        break;
      }
      e = (e + 1) & mask;
    }
    return buckets + e * bucket_words;
  }
  void prefetch(uint64_t h) const {
    uint64_t e = home(h >> shift);
    __builtin_prefetch(keys + e, 1);
    __builtin_prefetch(buckets + e * bucket_words, 1);
  }
  // Room for `selections` more bucket selections at a load of at most 3/4:
  // measured here, 3/4 takes 40% less memory than 1/2 and is no slower (the
  // probes of a nibble's contexts are prefetched together).
  bool has_room(uint64_t selections) const { return 4 * (used + selections) <= 3 * (mask + 1); }
};

// The way of bucket b that context tag `tag` uses.
inline uint16_t* select_way(uint16_t* b, uint16_t tag) {
  if (b[0] == 0) {
    b[0] = tag;
    return b;
  }
  if (b[0] == tag) return b;
  if (b[way_words] == 0) b[way_words] = 1;
  return b + way_words;
}

template <class Table>
inline uint16_t* select(Table& t, uint64_t h) {
  return select_way(t.bucket(h), static_cast<uint16_t>(h));
}

// One model call's table: an arena block of the full table size (address
// space only; untouched pages cost nothing) in which the compact map lives
// until it moves to the direct layout.
struct table_storage {
  uint8_t* block = nullptr;
  uint64_t bytes = 0;       // table size
  uint64_t used = 0;        // bytes from the block's start that this table has touched
  uint64_t garbage_lo = 0;  // [garbage_lo, garbage_hi) may hold what earlier blocks left
  uint64_t garbage_hi = 0;
  uint64_t map_limit = 0;  // largest map capacity before the direct layout
  bool compact = false;
  direct_table direct;
  compact_table map;
};

// selections: an upper bound on the bucket selections of the whole call,
// which sizes the first map.
table_storage table_open(table_shape shape, uint64_t selections);
void table_close(table_storage& s);

// Overrides the size of the first map and the largest map, in entries (0
// keeps the default). Every setting gives the same coded output; tests use
// this to run streams through each representation and through the move.
void table_set_limits(uint64_t first_entries, uint64_t map_limit_entries);

// Makes room for `selections` more selections: doubles the map, or moves
// the buckets to the direct layout.
void table_grow(table_storage& s, uint64_t selections);

// Runs fn.template operator()<Enc>(table) with the call's representation and
// direction. fn returns true when the stream is done and false when the table
// ran out of room; then the table grows and fn runs again, resuming where it
// stopped, so that one templated loop serves every combination.
template <class Fn>
inline void with_table(table_storage& s, int direction, uint64_t selections_per_step, Fn&& fn) {
  for (;;) {
    bool done;
    if (s.compact) {
      done = direction == 1 ? fn.template operator()<true>(s.map)
                            : fn.template operator()<false>(s.map);
    } else {
      done = direction == 1 ? fn.template operator()<true>(s.direct)
                            : fn.template operator()<false>(s.direct);
    }
    if (done) return;
    table_grow(s, selections_per_step);
  }
}

}  // namespace vesk
