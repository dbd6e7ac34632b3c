// The strong methods' parts around a model's own mixer. While a match
// expects the bit being coded, the match model's predictions join the
// context inputs of the model's mixer, whose weight set then also depends
// on the match's length group, and an adaptive probability map under the
// partial byte and the match state refines the mixer's probability.
// Without such a match the extra inputs are 0 and the mixer's probability
// is coded as it is. The byte predictor's flag, where a model codes one, is
// refined by a map under the match state and whether the match expects the
// guessed byte.
//
// final_stage wraps the model's mixer (the policy of code_nibble, see
// nibble_coder.h), which takes Inner::context_inputs inputs from the
// contexts and match_inputs more, and follows the partial byte itself from
// the bit position j and the coded bits. The match inputs, stretch domain
// (base 2), signed by the expected bit (+ for 1):
//   m0  stretch of the hit rate of the expected bit at this length bucket
//   m1  stretch of the probability of a 1 under the expected byte, the bit
//       position and the length bucket (a direct "match order" context)
//   m2  1 (the weight set learns the length's own strength)
//   m3  the length, capped at 32, over 16
//   m4..m7  0
// The coded probability is (p + 3 a) / 4 of the mixer's p and the map's a.
#pragma once

#include <cstdint>
#include <cstring>

#include "coding/apm.h"
#include "coding/arithmetic.h"
#include "coding/byte_predictor.h"
#include "coding/logistic.h"
#include "coding/mixer.h"
#include "coding/nibble_coder.h"
#include "models/match_model.h"

namespace vesk {

constexpr int match_inputs = 8;
// The mixer's weight sets come in match_groups groups: no match expects
// the bit, then lengths 1-7, 8-31 and 32 or more (buckets 1-7, 8-11, 12-).
constexpr int match_groups = 4;
inline uint32_t match_group(int bucket) {
  return bucket == 0 ? 0 : bucket < 8 ? 1 : bucket < 12 ? 2 : 3;
}
constexpr float final_hit_rate = 1.0f / 128;
constexpr float final_order_rate = 1.0f / 32;
constexpr float final_apm_rate = 1.0f / 64;
constexpr int final_order_contexts = match_buckets * 256 * 8;  // bucket x expected byte x bit
constexpr int final_apm_contexts = 256 * 2 * match_buckets;  // partial byte x bucket x expected bit
// The flag's map: no match, then length bucket x (expected byte == guess).
constexpr int flag_apm_contexts = 1 + 2 * match_buckets;
constexpr float flag_apm_rate = 1.0f / 64;

// Everything the strong methods add to one model call, taken from the arena
// before the model's frame and released after it: the match table and the
// final stage's tables.
struct strong_memory {
  uint32_t* match_table = nullptr;
  int match_log2 = 0;
  float* floats = nullptr;
  float* hit = nullptr;      // match_buckets
  float* order = nullptr;    // final_order_contexts
  float* apm = nullptr;      // final_apm_contexts x apm_points
  float* flag_apm = nullptr; // flag_apm_contexts x apm_points
};

// Sizes the match table for a stream of `elements` (at most 2^max_log2
// entries) and sets every table to its fresh state.
void strong_open(strong_memory& s, int64_t elements, int max_log2);
void strong_close(strong_memory& s);

template <class Inner>
struct final_stage {
  static constexpr int context_inputs = Inner::context_inputs;
  Inner* inner = nullptr;
  strong_memory* mem = nullptr;
  // Set per byte by the model: the match's length (0 = none expects this
  // byte) and its expected byte.
  uint32_t mlen = 0, mexp = 0;
  // Per bit.
  uint32_t c0 = 1;  // the byte's bits so far behind a leading 1
  int eb = -1;      // the expected bit, -1 when no match expects it
  int bucket = 0;
  float* order = nullptr;
  alignas(16) float x[context_inputs + match_inputs] = {};
  apm_pick k;

  void begin_byte(uint32_t len, uint32_t expected) {
    mlen = len;
    mexp = expected;
  }

  uint32_t predict(const float* xs, uint32_t visited, int j) {
    if (j == 0) c0 = 1;
    std::memcpy(x, xs, sizeof(float) * context_inputs);
    eb = -1;
    if (mlen == 0 || ((mexp | 256) >> (8 - j)) != c0) {
      for (int i = 0; i < match_inputs; i++) x[context_inputs + i] = 0.0f;
      inner->group = 0;
      return inner->predict(x, visited, j);
    }
    eb = static_cast<int>((mexp >> (7 - j)) & 1);
    bucket = match_bucket(mlen);
    const float c = stretch(mem->hit[bucket]);
    order = mem->order + ((((static_cast<uint32_t>(bucket) << 8) | mexp) << 3) | static_cast<uint32_t>(j));
    const float len = static_cast<float>(mlen < 32 ? mlen : 32) * 0.0625f;
    float* m = x + context_inputs;
    m[0] = eb ? c : -c;
    m[1] = stretch(*order);
    m[2] = eb ? 1.0f : -1.0f;
    m[3] = eb ? len : -len;
    for (int i = 4; i < match_inputs; i++) m[i] = 0.0f;
    inner->group = match_group(bucket);
    inner->predict(x, visited, j);
    const float p = inner->p;
    const uint32_t sel = 2 * static_cast<uint32_t>(bucket) + static_cast<uint32_t>(eb);
    const float a = apm_refine(mem->apm, c0 | (sel << 8), stretch_quick(p), k);
    return prob12(clamp_c2n((p + (a + a + a)) * 0.25f));
  }

  void update(const float*, int y) {
    inner->update(x, y);
    if (eb >= 0) {
      apm_update(k, y, final_apm_rate);
      float& h = mem->hit[bucket];
      h += (apm_target(y == eb) - h) * final_hit_rate;
      *order += (apm_target(y) - *order) * final_order_rate;
    }
    c0 = 2 * c0 + static_cast<uint32_t>(y);
  }
};

// The byte predictor's flag under the match state: the map refines the
// guess's probability; the coded value is (p + 3 a) / 4.
struct flag_stage {
  float* apm = nullptr;
  apm_pick pk;

  uint32_t predict(const byte_predictor& bp, uint32_t len, uint32_t expected) {
    const uint32_t c =
        len == 0 ? 0 : 1 + 2 * static_cast<uint32_t>(match_bucket(len)) + (expected == bp.guess);
    const float a = apm_refine(apm, c, stretch(bp.p), pk);
    const float p = (bp.p + (a + a + a)) * 0.25f;
    return prob12(clamp_c2n(p));
  }
  void update(int y) { apm_update(pk, y, flag_apm_rate); }
};

// code_guess_flag (nibble_coder.h) with the flag's probability refined.
template <bool Enc>
inline bool code_refined_flag(coder& k, byte_predictor& bp, uint8_t& byte, double threshold,
                              flag_stage& fs, uint32_t len, uint32_t expected) {
  bp.flag_coded = 0;
  if (!guess_confident(bp, threshold)) return false;
  bp.flag_coded = 1;
  const int y = code_bit<Enc>(k, byte == bp.guess, fs.predict(bp, len, expected));
  fs.update(y);
  if (!y) return false;
  if constexpr (!Enc) byte = bp.guess;
  return true;
}

// The policy that code_nibble runs: the final stage around the mixer in the
// strong models, the mixer alone otherwise.
template <bool Strong, class Inner>
auto& nibble_policy(final_stage<Inner>& fin, Inner& mix) {
  if constexpr (Strong) {
    return fin;
  } else {
    return mix;
  }
}

// The strong parts of a byte-stream model: the match model over its bytes,
// the final stage around its mixer, the refined flag.
template <class Inner>
struct byte_stage {
  strong_memory mem;
  final_stage<Inner> fin;
  flag_stage flag;
  match_model mm;
  const uint8_t* buf = nullptr;

  void open(Inner* inner, const uint8_t* b, int64_t n, int max_log2, int minlen) {
    strong_open(mem, n, max_log2);
    fin.inner = inner;
    fin.mem = &mem;
    flag.apm = mem.flag_apm;
    match_init(mm, mem.match_table, mem.match_log2, minlen);
    buf = b;
  }
  void close() { strong_close(mem); }

  uint32_t expected() const { return buf[mm.ptr]; }

  // The byte predictor's flag, refined in the strong models.
  template <bool Strong, bool Enc>
  bool code_flag(coder& k, byte_predictor& bp, uint8_t& byte, double threshold) {
    if constexpr (Strong) {
      return code_refined_flag<Enc>(k, bp, byte, threshold, flag, mm.len, expected());
    } else {
      return code_guess_flag<Enc>(k, bp, byte, threshold);
    }
  }

  // Before the byte's nibbles. A flag that said the byte is not the guess
  // rules out a match expecting it.
  void begin_nibbles(const byte_predictor& bp) {
    const uint32_t e = expected();
    const bool ruled_out = bp.flag_coded && e == bp.guess;
    fin.begin_byte(ruled_out ? 0 : mm.len, e);
  }

  // After byte i is known (coded by either path).
  void after(int64_t i) {
    match_next(mm, [this](int64_t r) -> uint64_t { return buf[r]; }, i + 1);
  }
};

}  // namespace vesk
