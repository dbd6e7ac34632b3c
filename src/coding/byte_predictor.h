// The byte predictor: before a model codes a byte bit by bit, it guesses the
// whole byte from a few hashed orders of the history, with a probability
// that the guess is right. Each order keeps, per hashed context, two
// candidate bytes with hit counts; a fixed per-order row turns a count into
// a confidence (stretch domain), the most confident order wins, and a
// learned weight chosen by which orders agree scales its confidence.
//
// Three orders (the last 2, 4 and 8 bytes; preset 0) serve the byte, x86
// and block models; four orders keyed for 32-bit values (preset 3) serve the
// displacement model. Both share the slot format, the choice and the update.
#pragma once

#include <cstdint>

#include "util/bytes.h"

namespace vesk {

constexpr int bp_max_orders = 4;
constexpr int bp_slots_per_order = 4096;
constexpr int bp_preset_bytes = 0;   // rows 0..2: three byte orders
constexpr int bp_preset_values = 3;  // rows 3..6: four value orders

// Candidate slot halves (low half bits 0..31, high half bits 32..63):
// bits 0..7 hit count (0 = empty), 8..15 the byte, 16..31 a hash check.
struct byte_predictor {
  const uint8_t* buf = nullptr;  // the stream; 8 (or 64) readable bytes precede it
  uint8_t* block = nullptr;      // arena block holding the three tables
  float* confidence = nullptr;   // order j, count k: confidence[256 j + k]
  uint64_t* slots = nullptr;     // order j uses slots[4096 j .. 4096 j + 4095]
  float* weights = nullptr;      // 16 agreement weights
  int n = 0;                     // number of orders

  uint32_t hashes[bp_max_orders] = {};  // this position's context hash per order
  uint8_t guesses[bp_max_orders] = {};  // candidate byte per order, 0 if none
  float p = 0;                          // probability that the guess is right
  float x = 0;                          // stretch value behind p
  int best = 0;
  int agreement = 0;
  int flag_coded = 0;  // set by the model: 1 if it coded the flag for this byte
  uint8_t guess = 0;
};

// Allocates the tables from the arena (released by bp_free) and reads the
// confidence rows of `preset` from the probability table (`table`, 7 rows of
// 256, in place of the format's rows when given).
void bp_init(byte_predictor& bp, const uint8_t* buf, int n, int preset,
             const float (*table)[256] = nullptr);
void bp_free(byte_predictor& bp);

// Prediction from the orders' context hashes (n of them).
void bp_predict_hashes(byte_predictor& bp, const uint32_t* h);

// Three orders over the last 2, 4 and 8 bytes before position i.
inline void bp_predict(byte_predictor& bp, int64_t i) {
  uint64_t w = get_u64(bp.buf + i - 8);  // most recent byte on top
  constexpr uint64_t mult[3] = {0x1cdadafaa3e6d501, 0x6f8b59b2ef117143, 0x98e39fe0cad652c1};
  constexpr uint32_t flip[3] = {0x25098451, 0x93847698, 0x67918739};
  uint64_t keys[3];
  uint64_t v2 = w >> 48, v4 = w >> 32;
  keys[0] = (v2 << 32) | v2;
  keys[1] = (v4 << 32) | v4;
  keys[2] = w;
  uint32_t h[3];
  for (int j = 0; j < 3; j++) {
    uint64_t m = mult[j] * (keys[j] ^ (keys[j] >> 47));
    h[j] = static_cast<uint32_t>((m ^ (m >> 21)) ^ flip[j]);
  }
  bp_predict_hashes(bp, h);
}

// Four orders for 32-bit values: the 32-bit keys hashed alike.
inline uint32_t bp_value_hash(uint32_t x) {
  uint64_t z = ((uint64_t{x} << 32) | x) ^ (x >> 15);
  uint64_t y = z * 0x6f8b59b2ef117143;
  y ^= y >> 21;
  return static_cast<uint32_t>(y) ^ 0x93847698;
}

// Four orders for 32-bit values (most significant byte first) at position
// i: the previous value, the same byte of the four values before it, the
// same byte of every third value, and the zero flags `zero_flags` of the
// last 24 bytes (bit k set when byte i - 1 - k is zero).
inline void bp_predict_values(byte_predictor& bp, int64_t i, uint32_t zero_flags) {
  auto b = [&](int m) { return uint32_t{bp.buf[i - m]}; };
  const uint32_t values[4] = {b(4) | b(3) << 8 | b(2) << 16 | b(1) << 24,
                              b(16) | b(32) << 8 | b(48) << 16 | b(64) << 24,
                              b(12) | b(24) << 8 | b(36) << 16 | b(48) << 24,
                              zero_flags & 0xFFFFFF};
  uint32_t h[4];
  for (int j = 0; j < 4; j++) h[j] = bp_value_hash(values[j]);
  bp_predict_hashes(bp, h);
}

// The prediction at position i from the tables as they stand, leaving bp
// alone: of the byte orders, or given zero flags, of the value orders. A
// model's lookahead uses it to tell, a byte or two early, the guess a
// context is built from and whether the flag will code the byte; the bytes
// in between may still change the tables, so it only decides what is
// loaded early, never what is coded.
inline byte_predictor bp_peek(const byte_predictor& bp, int64_t i) {
  byte_predictor c = bp;
  bp_predict(c, i);
  return c;
}
inline byte_predictor bp_peek(const byte_predictor& bp, int64_t i, uint32_t zero_flags) {
  byte_predictor c = bp;
  bp_predict_values(c, i, zero_flags);
  return c;
}

// Learns the byte at position i (now known in both directions).
void bp_update(byte_predictor& bp, int64_t i);

}  // namespace vesk
