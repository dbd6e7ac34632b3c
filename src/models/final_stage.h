// The final stage of the strong methods, around a model's own mixer. While
// a match expects the bit being coded, the mixer's probability and the
// match model's prediction meet in a small second mixer whose weight set is
// chosen by the match's length bucket and the expected bit, and an adaptive
// probability map under the partial byte and that match state refines the
// result. Without such a match the mixer's probability is coded as it is:
// a map on every bit gained about 1% on word codes for about a third more
// time. The byte predictor's flag, where a model codes one, is refined by a
// map under the match state and whether the match expects the guessed byte.
//
// final_stage wraps the inner mixer policy of code_nibble (predict / update,
// see nibble_coder.h) and follows the partial byte itself from the bit
// position j and the coded bits. Its inputs, stretch domain (base 2):
//   x0  stretch of the inner mixer's probability
//   x1  +-stretch(hit rate of the expected bit at this length bucket), with
//       the sign of the expected bit
//   x2  +-1 likewise (the weight set learns the length's own strength)
//   x3  0.5, a bias
// The dot product is ((x0 w0 + x1 w1) + (x2 w2 + x3 w3)) in single
// precision; the coded probability is (pm + 3 a) / 4 of the mixed
// probability pm and the map's a.
#pragma once

#include <cstdint>

#include "coding/apm.h"
#include "coding/arithmetic.h"
#include "coding/byte_predictor.h"
#include "coding/logistic.h"
#include "coding/mixer.h"
#include "coding/nibble_coder.h"
#include "models/match_model.h"

namespace vesk {

constexpr int final_inputs = 4;
// A set per length bucket and expected bit.
constexpr int final_sets = 2 * match_buckets;
constexpr double final_rate = 0.002;
constexpr float final_d_limit = 64.0f;  // beyond it the weights have diverged and start over
constexpr float final_hit_rate = 1.0f / 128;
constexpr float final_apm_rate = 1.0f / 64;
constexpr int final_apm_contexts = 256 * final_sets;  // partial byte x bucket x expected bit
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
  float* weights = nullptr;  // final_sets x final_inputs
  float* hit = nullptr;      // match_buckets
  float* apm = nullptr;      // final_apm_contexts x apm_points
  float* flag_apm = nullptr; // flag_apm_contexts x apm_points
  squash_table sq;
};

// Sizes the match table for a stream of `elements` (at most 2^max_log2
// entries) and sets every table to its fresh state.
void strong_open(strong_memory& s, int64_t elements, int max_log2);
void strong_close(strong_memory& s);
void final_weights_fresh(float* w);

template <class Inner>
struct final_stage {
  Inner* inner = nullptr;
  strong_memory* mem = nullptr;
  // Set per byte by the model: the match's length (0 = none expects this
  // byte) and its expected byte.
  uint32_t mlen = 0, mexp = 0;
  // Per bit.
  uint32_t c0 = 1;  // the byte's bits so far behind a leading 1
  int eb = -1;      // the expected bit, -1 when no match expects it
  int bucket = 0;
  float x[final_inputs] = {};
  float* set = nullptr;
  float pm = 0;
  apm_pick k;

  void begin_byte(uint32_t len, uint32_t expected) {
    mlen = len;
    mexp = expected;
  }

  uint32_t predict(const float* xs, uint32_t visited, int j) {
    const uint32_t inner_p12 = inner->predict(xs, visited, j);
    if (j == 0) c0 = 1;
    // Without a match that expects this bit the inner mixer's probability
    // is coded as it is: the stage costs a test.
    eb = -1;
    if (mlen == 0 || ((mexp | 256) >> (8 - j)) != c0) return inner_p12;
    eb = static_cast<int>((mexp >> (7 - j)) & 1);
    bucket = match_bucket(mlen);
    const float c = stretch(mem->hit[bucket]);
    x[0] = stretch_quick(inner->p);
    x[1] = eb ? c : -c;
    x[2] = eb ? 1.0f : -1.0f;
    x[3] = 0.5f;
    const uint32_t sel = 2 * static_cast<uint32_t>(bucket) + static_cast<uint32_t>(eb);
    set = mem->weights + final_inputs * sel;
    float d = (x[0] * set[0] + x[1] * set[1]) + (x[2] * set[2] + x[3] * set[3]);
    if (!(d > -final_d_limit && d < final_d_limit)) {
      final_weights_fresh(mem->weights);
      d = x[0];
    }
    pm = mem->sq.v[squash_index(d) + squash_table_zero];
    const float a = apm_refine(mem->apm, c0 | (sel << 8), d, k);
    return prob12((pm + (a + a + a)) * 0.25f);
  }

  void update(const float* xs, int y) {
    inner->update(xs, y);
    if (eb >= 0) {
      const float err = mix_error(y, pm, final_rate);
      for (int i = 0; i < final_inputs; i++) set[i] += x[i] * err;
      apm_update(k, y, final_apm_rate);
      float& h = mem->hit[bucket];
      h += (apm_target(y == eb) - h) * final_hit_rate;
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
