// Pieces the models share: the random byte keys and the chain of order
// contexts built from them, the zero-flag register, and the frame of every
// model call (set-up, per-byte loop, teardown).
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "coding/arithmetic.h"
#include "coding/byte_predictor.h"
#include "coding/logistic.h"
#include "coding/nibble_coder.h"
#include "coding/nibble_table.h"
#include "models/model.h"
#include "util/progress.h"

namespace vesk {

constexpr uint64_t order_step = 0x4940592345098245;
constexpr uint64_t order0_hash = 0x2593059382085831;
constexpr uint64_t order1_mix = 0x6ed35eb6c711da76;

// The keys of the byte values: the first 256 draws of a xorshift1024*
// generator seeded with 1, worked out at compile time.
constexpr std::array<uint64_t, 256> byte_keys = [] {
  constexpr uint64_t multiplier = 0x106689d45497fdb5;
  uint64_t s[16] = {1};
  for (int i = 1; i < 16; i++) s[i] = (s[i - 1] ^ (s[i - 1] >> 30)) * multiplier;
  int p = 15;
  std::array<uint64_t, 256> key{};
  for (uint64_t& k : key) {
    const uint64_t s0 = s[p];
    p = (p + 1) & 15;
    uint64_t s1 = s[p];
    s1 ^= s1 << 31;
    s[p] = s1 ^ s0 ^ (s1 >> 11) ^ (s0 >> 30);
    k = s[p] * multiplier;
  }
  return key;
}();

// One more byte of an order chain: (h + step) ^ key[byte].
inline uint64_t order_next(uint64_t h, const uint64_t* key, uint8_t byte) {
  return (h + order_step) ^ key[byte];
}

// Orders 0, 2 and 4 of the chain, the first three contexts of the
// displacement and record models; p points at the current byte.
inline void orders_0_2_4(uint64_t* h, const uint64_t* key, const uint8_t* p) {
  h[0] = order0_hash;
  h[1] = order_next(key[p[-1]] ^ order1_mix, key, p[-2]);
  h[2] = order_next(order_next(h[1], key, p[-3]), key, p[-4]);
}

// Zero-flag register: bit m-1 is set when the byte m places back is 0. It
// starts with every flag set (the history in front of a stream is zeros).
constexpr uint32_t zero_flags_start = 0xFFFFFFFF;
inline uint32_t zero_flags_next(uint32_t zr, uint8_t b1) {
  return (zr << 1) | (b1 == 0);
}
// The flags of the `count` bytes before position i, counted afresh: a
// lookahead runs ahead of the register the per-byte step keeps.
inline uint32_t zero_flags_before(const uint8_t* buf, int64_t i, int count) {
  uint32_t z = 0;
  for (int m = count; m >= 1; m--) z = (z << 1) | (buf[i - m] == 0);
  return z;
}

// What distinguishes one model's frame from another's.
struct model_kind {
  table_shape shape;
  uint64_t selections_per_byte;  // at most this many bucket selections per position
  int weight_floats;
  float fresh_weight;
  int bp_orders = 0;  // byte predictor orders; 0 = no byte predictor
  int bp_preset = 0;
  bool byte_keys = true;  // draws the random byte keys
};

// Everything a model call sets up alike, allocated in this order from the
// arena and released in reverse: the weight block, the byte predictor's
// tables, the context table.
struct model_frame {
  table_storage table;
  float* weights = nullptr;
  squash_table sq;
  byte_predictor bp;
  uint64_t key[256];
};

void frame_open(model_frame& f, const model_kind& m, uint8_t* buf, int64_t n, int direction,
                const model_options& options);

// Points a model's mixer and its keys (and byte predictor) at the frame
// model_run has opened.
template <class Mixer>
void bind_frame(model_frame& f, Mixer& mix, const uint64_t*& key) {
  mix.weights = f.weights;
  mix.sq = &f.sq;
  key = f.key;
}
template <class Mixer>
void bind_frame(model_frame& f, Mixer& mix, const uint64_t*& key, byte_predictor*& bp) {
  bind_frame(f, mix, key);
  bp = &f.bp;
}

// The lookahead of a model with a byte predictor: the guess at i is
// peeked at ahead of time, and a byte that the flag will code loads nothing
// (decoding, which does not know the byte yet, skips the loads of every
// confident guess); otherwise contexts(i, peek, h) fills h and returns how
// many contexts to load. bp is read when the lookahead runs (model_run's
// setup sets it).
template <class Contexts>
auto predictor_lookahead(byte_predictor* const& bp, const uint8_t* buf, bool encoding,
                         double threshold, Contexts contexts) {
  return [&bp, buf, encoding, threshold, contexts](int64_t i, uint64_t* h) -> int {
    const byte_predictor peek = bp_peek(*bp, i);
    if (flag_will_code(peek, threshold, encoding, buf[i])) return 0;
    return contexts(i, peek, h);
  };
}

// The end of every lookahead: h[0..NC) holds the contexts of the position;
// when its high nibble `hi` is known (encoding, or a likely nibble; -1
// when not) the second nibble's contexts follow. Returns how many to load.
template <int NC>
int ahead_contexts(uint64_t* h, const uint64_t* second, int hi) {
  if (hi < 0) return NC;
  for (int c = 0; c < NC; c++) h[NC + c] = h[c] ^ second[hi];
  return 2 * NC;
}
void frame_close(model_frame& f, const model_kind& m, coder& k, int direction);

// A lookahead fills h[0..2 NC) with the context hashes of both nibbles of
// position i as far as it can tell them (the byte predictor's guess is
// peeked at, so a context built from it may come out otherwise) and
// returns how many it filled: 0 when position i will code nothing, 2 NC
// when encoding, which knows the whole stream. Decoding runs it for the
// position after the byte it has just decoded, where it knows the first
// nibble's NC hashes, or 2 NC when the model fills in a likely second.
struct no_lookahead {
  int operator()(int64_t, uint64_t*) const { return 0; }
};

// Runs one model call over positions 0..n-1 of buf: opens the frame, calls
// step(table, i) for each position (step codes position i, or skips it,
// and returns the next position), and closes the frame, flushing the coder
// when encoding. Step is a generic lambda templated on the direction:
//   [&]<bool Enc>(auto& table, int64_t i) -> int64_t
// The loop stops early when decoding runs past the coded bytes (the
// container reports the damage), and returns to with_table to grow the
// table when a position might not find room, resuming at that position.
//
// When encoding, a lookahead (AheadCount = 2 NC hashes, for models whose
// positions advance one at a time) lets the loop start the memory
// loads of later positions while position i is coded: the index entries of
// position i + 2, and the buckets of position i + 1, whose index entries
// were loaded a position before.
template <int AheadCount = 0, class Setup, class Step, class Ahead = no_lookahead>
void model_run(const model_kind& m, uint8_t* buf, int32_t length, coder& k, int direction,
               const model_options& options, Setup&& setup, Step&& step, Ahead&& ahead = {}) {
  constexpr int ahead_count = AheadCount;
  const int64_t n = length > 0 ? length : 0;
  model_frame f;
  frame_open(f, m, buf, n, direction, options);
  setup(f);
  int64_t pos = 0;  // the position to resume at after the table grows
  // Hashes of positions i + 1 and i + 2, and whether they code anything.
  uint64_t next1[ahead_count > 0 ? ahead_count : 1], next2[ahead_count > 0 ? ahead_count : 1];
  bool live1 = false, live2 = false;
  const progress_spot spot = progress_here();
  with_table(f.table, direction, m.selections_per_byte, [&]<bool Enc>(auto& table) {
    for (int64_t i = pos; i < n;) {
      if (!table.has_room(m.selections_per_byte)) {
        pos = i;
        return false;
      }
      if constexpr (!Enc) {
        if (k.overrun) return true;
      }
      progress_note(spot, i);
      if constexpr (Enc && ahead_count > 0) {
        if (i == pos) {
          // (Re)start: position i + 1 has not been looked at yet.
          live2 = i + 1 < n && ahead(i + 1, next2) > 0;
          if (live2)
            for (int c = 0; c < ahead_count; c++) table.prefetch_index(next2[c]);
        }
        std::swap(next1, next2);
        live1 = live2;
        live2 = i + 2 < n && ahead(i + 2, next2) > 0;
        if (live2)
          for (int c = 0; c < ahead_count; c++) table.prefetch_index(next2[c]);
        if (live1)
          for (int c = 0; c < ahead_count; c++) table.prefetch(next1[c]);
      }
      i = step.template operator()<Enc>(table, i);
      if constexpr (!Enc && ahead_count > 0) {
        // The byte just decoded fixes most of the next position's contexts:
        // their index entries load while the model updates and predicts.
        const int known = i < n ? ahead(i, next1) : 0;
        for (int c = 0; c < known; c++) table.prefetch_index(next1[c]);
      }
    }
    return true;
  });
  frame_close(f, m, k, direction);
}

}  // namespace vesk
