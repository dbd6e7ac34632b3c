// Pieces the byte-oriented models share: the random byte keys, the chain of
// order contexts built from them, and the zero-flag register.
#pragma once

#include <cstdint>

#include "util/rng.h"

namespace vesk {

constexpr uint64_t order_step = 0x4940592345098245;
constexpr uint64_t order0_hash = 0x2593059382085831;
constexpr uint64_t order1_mix = 0x6ed35eb6c711da76;

// The keys of the byte values: seeded afresh, so every call draws the same.
inline void draw_byte_keys(uint64_t* key) {
  rng_seed(1);
  for (int b = 0; b < 256; b++) key[b] = rng_next();
}

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

}  // namespace vesk

#include "coding/arithmetic.h"
#include "coding/logistic.h"
#include "coding/nibble_table.h"
#include "util/progress.h"

namespace vesk {

// What every model call sets up alike: its context table (allocated
// first), its weight block (second), the squash table, and, when
// decoding, a cleared output buffer; at the end the flush when encoding and
// the release in reverse order. A model allocates anything else (its byte
// predictor) after frame_open and releases it before frame_close.
struct model_frame {
  table_storage table;
  float* weights = nullptr;
  squash_table sq;
};

void frame_open(model_frame& f, table_shape shape, uint64_t selections, int weight_floats,
                float fresh_weight, uint8_t* buf, int64_t n, int direction);
void frame_close(model_frame& f, coder& k, int direction);

// The check at the top of a model's per-byte loop, which also notes the
// position for the progress display. Returns false when the loop must stop:
// the table needs room (pos records the byte to resume at, and the caller
// grows the table and runs the loop again), or decoding has run past the
// coded bytes (the stream is damaged; the container reports it).
template <bool Enc, class Table>
inline bool byte_step_ready(const Table& table, const coder& k, uint64_t selections, int64_t i,
                            int64_t& pos, int64_t length, bool& done) {
  progress_note(i);
  if (!table.has_room(selections)) {
    pos = i;
    done = false;
    return false;
  }
  if constexpr (!Enc) {
    if (k.overrun) {
      pos = length;
      done = true;
      return false;
    }
  }
  return true;
}

}  // namespace vesk
