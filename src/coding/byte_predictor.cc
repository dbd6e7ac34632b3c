#include "coding/byte_predictor.h"

#include <cstring>

#include "coding/logistic.h"
#include "coding/predictor_rows.h"
#include "util/arena.h"

namespace vesk {

void bp_init(byte_predictor& bp, const uint8_t* buf, int n, int preset,
             const float (*table)[256]) {
  bp = byte_predictor{};
  bp.buf = buf;
  bp.n = n;
  const int64_t conf_bytes = int64_t{n} * 256 * 4;
  const int64_t slot_bytes = int64_t{n} * bp_slots_per_order * 8;
  bp.block = arena_alloc(slot_bytes + conf_bytes + 64);
  bp.slots = reinterpret_cast<uint64_t*>(bp.block);
  bp.confidence = reinterpret_cast<float*>(bp.block + slot_bytes);
  bp.weights = reinterpret_cast<float*>(bp.block + slot_bytes + conf_bytes);
  std::memset(bp.slots, 0, static_cast<size_t>(slot_bytes));
  for (int i = 0; i < 16; i++) bp.weights[i] = 1.0f;
  const float* rows = table != nullptr ? &table[preset][0] : &predictor_rows[preset][0];
  for (int k = 0; k < 256 * n; k++) bp.confidence[k] = stretch(rows[k]);
}

void bp_free(byte_predictor& bp) {
  arena_free(bp.block);
  bp.block = nullptr;
}

void bp_predict_hashes(byte_predictor& bp, const uint32_t* h) {
  float conf[bp_max_orders] = {};
  for (int j = 0; j < bp.n; j++) {
    bp.hashes[j] = h[j];
    uint64_t s = bp.slots[bp_slots_per_order * j + (h[j] & 0xFFF)];
    uint32_t check = h[j] >> 16;
    auto lo = static_cast<uint32_t>(s), hi = static_cast<uint32_t>(s >> 32);
    conf[j] = 0;
    bp.guesses[j] = 0;
    if ((lo >> 16) == check) {
      conf[j] = bp.confidence[256 * j + (lo & 0xFF)];
      bp.guesses[j] = static_cast<uint8_t>(lo >> 8);
    } else if ((hi >> 16) == check) {
      conf[j] = bp.confidence[256 * j + (hi & 0xFF)];
      bp.guesses[j] = static_cast<uint8_t>(hi >> 8);
    }
  }
  // The most confident order wins; ties keep the lower order.
  float m = conf[0] > 0 ? conf[0] : 0;
  int best = 0;
  for (int j = 1; j < bp.n; j++) {
    if (conf[j] > m) {
      best = j;
      m = conf[j];
    }
  }
  bp.best = best;
  bp.guess = bp.guesses[best];
  int a = 0;
  for (int j = 0; j < bp.n; j++) a = 2 * a + (bp.guesses[j] == bp.guess);
  bp.agreement = a;
  bp.x = m * bp.weights[a];
  bp.p = squash(bp.x);
}

void bp_update(byte_predictor& bp, int64_t i) {
  const uint8_t c = bp.buf[i];
  for (int j = 0; j < bp.n; j++) {
    uint64_t& slot = bp.slots[bp_slots_per_order * j + (bp.hashes[j] & 0xFFF)];
    uint32_t check = bp.hashes[j] >> 16;
    uint32_t half[2] = {static_cast<uint32_t>(slot), static_cast<uint32_t>(slot >> 32)};
    int which;
    if ((half[0] >> 16) == check) {
      which = 0;
    } else if ((half[1] >> 16) == check) {
      which = 1;
    } else {
      // Replace the weaker half; ties replace the high half.
      which = (half[0] & 0xFF) < (half[1] & 0xFF) ? 0 : 1;
      half[which] = (check << 16) | (uint32_t{c} << 8);  // count 0: becomes 1 below
    }
    uint32_t& e = half[which];
    if (((e >> 8) & 0xFF) == c) {
      if ((e & 0xFF) != 255) e++;
    } else {
      e = (e & 0xFFFF0000) | (uint32_t{c} << 8) | 1;
    }
    slot = uint64_t{half[0]} | uint64_t{half[1]} << 32;
  }
  if (bp.flag_coded) {
    float hit = bp.guess == c ? 1.0f : 0.0f;
    float d = hit - bp.p;
    float& w = bp.weights[bp.agreement];
    w = static_cast<float>((static_cast<double>(bp.x) * 0.01) * static_cast<double>(d) +
                           static_cast<double>(w));
  }
}

}  // namespace vesk
