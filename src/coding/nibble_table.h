// The hashed nibble-context table: the bit histories of the models' hashed
// contexts. A 64-bit context hash picks a 64-byte bucket by its high bits
// and carries a 16-bit tag in its low bits. A bucket has two 32-byte ways of
// sixteen 16-bit words: word 0 is the tag, words 1..15 the node slots of one
// nibble's binary tree. The first context to claim a bucket keeps way 0;
// every other context landing there shares way 1. Nothing is ever evicted.
//
// Slots are stored zero-fresh (see states.h), so a fresh bucket is all zero
// bytes. Two representations give identical coded output:
// - compact_table (what the models use): only the buckets a stream touches,
//   stored densely in the order of their first use, found through an
//   open-addressed index of 8-byte entries that doubles as it fills. Memory
//   follows the distinct buckets (64 bytes each plus 10 to 21 bytes of
//   index), and a bucket keeps its dense slot, so growth rebuilds only the
//   index (the whole block may move to a larger mapping).
// - direct_table: the whole table (2 GiB or 8 GiB) addressed by the bucket
//   index. A stream of a few hundred thousand buckets already touches every
//   2 MiB page of it, so it serves only as the reference that tests compare
//   the map against.
// The models' per-byte loops are templates over the representation; at the
// start of each byte they ask the table for room and return to the caller
// (which grows the index or clears more of the dense area, and may move the
// block) when there is none, so bucket pointers stay put while a byte is
// coded; no pointer into the table is kept from one byte to the next.
#pragma once

#include <cstdint>

#include "coding/arithmetic.h"

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

// What a map holds, for measurements: distinct buckets, index entries, and
// the bytes of the block the table has touched.
struct table_stats {
  uint64_t buckets = 0;
  uint64_t index_entries = 0;
  uint64_t bytes_touched = 0;
};

// How a model call lays out its table. Every choice codes the same bits;
// tests use them to run streams through each representation and growth.
struct table_layout {
  uint64_t first_index = 0;       // index entries at the start; 0 sizes it from the stream
  bool direct = false;            // the whole table in the direct layout
  table_stats* report = nullptr;  // receives the table's figures when it closes
};

struct direct_table {
  uint16_t* base = nullptr;
  int shift = 0;

  uint16_t* bucket(uint64_t h) { return base + (h >> shift) * bucket_words; }
  void prefetch(uint64_t h) const { __builtin_prefetch(base + (h >> shift) * bucket_words, 1); }
  void prefetch_index(uint64_t h) const { prefetch(h); }
  bool has_room(uint64_t) const { return true; }
};

// Index entry: (bucket index + 1) << 32 | dense slot; 0 is free. An entry's
// home is the top bits of its bucket index, so the index is ordered by
// bucket index up to the probing, and a doubling reinserts it in order.
struct compact_table {
  uint64_t* index = nullptr;
  uint16_t* buckets = nullptr;  // dense: slot k at buckets + 32 k
  uint64_t mask = 0;            // index capacity - 1
  uint64_t used = 0;            // slots taken (= index entries)
  uint64_t room = 0;            // has_room allows up to this many slots
  int shift = 0;                // of the hash, to the bucket index
  int home_shift = 0;           // of the bucket index, to its home entry

  uint16_t* bucket(uint64_t h) {
    const uint64_t b = h >> shift;
    const uint64_t key = (b + 1) << 32;
    for (uint64_t e = b >> home_shift;; e = (e + 1) & mask) {
      const uint64_t v = index[e];
      if ((v & ~uint64_t{0xFFFFFFFF}) == key) return buckets + (v & 0xFFFFFFFF) * bucket_words;
      if (v == 0) {
        index[e] = key | used;
        return buckets + used++ * bucket_words;
      }
    }
  }
  // The index entry is a cache miss of its own; so is the bucket, whose
  // place the entry holds. prefetch_index starts the first; prefetch starts
  // the second when the entry is at hand (a bucket not yet in the index
  // will take the next dense slot).
  void prefetch_index(uint64_t h) const {
    __builtin_prefetch(index + ((h >> shift) >> home_shift), 1);
  }
  void prefetch(uint64_t h) const {
    const uint64_t b = h >> shift;
    const uint64_t v = index[b >> home_shift];
    const uint64_t slot = (v >> 32) == b + 1 ? (v & 0xFFFFFFFF) : used;
    __builtin_prefetch(buckets + slot * bucket_words, 1);
  }
  bool has_room(uint64_t selections) const { return used + selections <= room; }
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

// One model call's table: one arena block holding the index and the dense
// buckets, or the direct table. A call of S selections can claim at most
// min(S, buckets of the table) dense slots, and its index doubles only
// while it is fuller than 3/4, so the index's room is sized from that
// bound, and the block grows (and may move) as the dense slots come into
// use: address space follows what the stream touches, not the table it
// stands for. Pages that earlier blocks of the arena left dirty are cleared
// by hand as the table comes to use them. A call large enough to matter has
// the pages it will need next faulted in on the prefault thread: the next
// stretch of dense slots, and the next doubling's index once the index is
// nearly full.
struct table_storage {
  uint8_t* block = nullptr;
  uint64_t bytes = 0;        // table size
  uint64_t capacity = 0;     // usable bytes of the block now
  uint64_t dirty = 0;        // [0, dirty) of the block may hold what earlier blocks left
  uint64_t index_bytes = 0;  // room for the largest index at the block's start (it ends there)
  uint64_t ready = 0;        // dense slots cleared for use
  uint64_t bound = 0;        // dense slots the call can use at most
  uint64_t ahead = 0;        // dense slots whose pages were asked to fault in ahead of use
  bool index_ahead = false;  // the next doubling's index pages were asked for
  bool compact = false;
  table_stats* report = nullptr;
  direct_table direct;
  compact_table map;
};

// selections: an upper bound on the bucket selections of the whole call,
// which sizes the first index and bounds what the table may grow to: the
// call must never make more (table_grow stops the run if it asks for room
// beyond it).
table_storage table_open(table_shape shape, uint64_t selections, const table_layout& layout = {});
void table_close(table_storage& s);

// Makes room for `selections` more selections: doubles the index and
// clears more of the dense area as needed.
void table_grow(table_storage& s, uint64_t selections);

table_stats table_measure(const table_storage& s);

// Runs fn.template operator()<Enc>(table) with the call's representation and
// direction. fn returns true when the stream is done and false when the table
// ran out of room; then the table grows and fn runs again, resuming where it
// stopped, so that one templated loop serves every combination.
template <class Fn>
inline void with_table(table_storage& s, int direction, uint64_t selections_per_step, Fn&& fn) {
  for (;;) {
    bool done;
    if (s.compact) {
      done = direction == compress_dir ? fn.template operator()<true>(s.map)
                                       : fn.template operator()<false>(s.map);
    } else {
      done = direction == compress_dir ? fn.template operator()<true>(s.direct)
                                       : fn.template operator()<false>(s.direct);
    }
    if (done) return;
    table_grow(s, selections_per_step);
  }
}

}  // namespace vesk
