// The match model of the strong methods: the longest earlier repeat of the
// last few elements of a stream (bytes, or the word-code stream's 32-bit
// slots) predicts the next one. A rolling hash of the last `minlen`
// elements indexes a table of the positions that followed their latest
// occurrence; a candidate is verified backwards, so a match starts with its
// true length (at least minlen, at most verify_cap) and grows by one with
// every element that agrees. The first element that disagrees ends it, and
// the next position looks up again.
//
// The table holds positions + 1 (0 = empty): it is zero-fresh, taken from
// the arena by the model that owns it, and sized from the stream's length.
#pragma once

#include <bit>
#include <cstdint>

namespace vesk {

constexpr uint32_t match_len_cap = 65535;
constexpr int64_t match_verify_cap = 48;
constexpr int match_buckets = 16;
constexpr uint64_t match_roll = 0x9E3779B97F4A7C15;  // odd: the rolling hash's base
constexpr uint64_t match_spread = 0xD6E8FEB86659FD93;

struct match_model {
  uint32_t* table = nullptr;
  int shift = 64;         // of the spread hash, to the table index
  int minlen = 0;         // elements hashed
  uint64_t out_mul = 0;   // match_roll^minlen: takes the oldest element out of the hash
  uint64_t h = 0;         // rolling hash of the last minlen elements
  int64_t ptr = 0;        // when len > 0: index of the element expected next
  uint32_t len = 0;       // elements that agreed so far, capped; 0 = no match
};

// Table entries for a stream of n elements: the next power of two at or
// above n, within 2^16 .. 2^max_log2.
inline int match_table_log2(int64_t n, int max_log2) {
  int b = 16;
  while (b < max_log2 && (int64_t{1} << b) < n) b++;
  return b;
}

inline void match_init(match_model& m, uint32_t* table, int log2_entries, int minlen) {
  m = match_model{};
  m.table = table;
  m.shift = 64 - log2_entries;
  m.minlen = minlen;
  m.out_mul = 1;
  for (int e = 0; e < minlen; e++) m.out_mul *= match_roll;
}

// The length bucket of a match (0 = none): lengths 1..7 apart, then two
// buckets per doubling up to 96 and more.
inline int match_bucket(uint32_t len) {
  if (len < 8) return static_cast<int>(len);
  const int lg = std::bit_width(len) - 1;  // 3 or more
  const int b = 8 + 2 * (lg - 3) + static_cast<int>((len >> (lg - 1)) & 1);
  return b < match_buckets ? b : match_buckets - 1;
}

// Element q-1 has just become known; prepares the prediction of element q.
// at(r) reads element r; elements before 0 read as zero (the stream's
// history), at least minlen + 1 of them.
template <class At>
inline void match_next(match_model& m, At at, int64_t q) {
  const uint64_t v = at(q - 1);
  if (m.len > 0) {
    if (at(m.ptr) == v) {
      m.ptr++;
      m.len += m.len < match_len_cap;
    } else {
      m.len = 0;
    }
  }
  m.h = m.h * match_roll + v - at(q - 1 - m.minlen) * m.out_mul;
  uint32_t* slot = m.table + ((m.h * match_spread) >> m.shift);
  if (m.len == 0 && *slot != 0) {
    const int64_t cand = *slot;  // the element after an earlier occurrence
    int64_t l = 0;
    while (l < match_verify_cap && l < cand && at(cand - 1 - l) == at(q - 1 - l)) l++;
    if (l >= m.minlen) {
      m.len = static_cast<uint32_t>(l);
      m.ptr = cand;
    }
  }
  *slot = static_cast<uint32_t>(q);
}

}  // namespace vesk
