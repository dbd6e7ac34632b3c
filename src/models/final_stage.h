// The strong methods' parts around a model's own mixer. While a match
// expects the bit being coded, the match model's predictions join the
// context inputs of the model's mixer, whose weight set then also depends
// on the match's length group, and an adaptive probability map under the
// partial byte and the match state refines the mixer's probability.
// Without such a match the extra inputs are 0 and two maps refine it, one
// under the partial byte and one under the partial byte and the previous
// byte (the first learns fast, the second gains on large inputs; each
// alone lost up to 0.6% on some bench file to the other); streams too
// short to train the second (and to pay for its 6.5 MB) use the first
// alone. The byte predictor's flag, where a model codes one, is refined by
// a map under the match state and whether the match expects the guessed
// byte. The models also give one of their hashed contexts to the expected
// byte (or slot) and the match length while a match is active
// (match_context and the word-code model's own).
//
// final_stage wraps the model's mixer (the policy of code_nibble, see
// nibble_coder.h), which reads Inner::context_inputs inputs from the
// contexts and match_inputs more that the stage writes after them, and
// follows the partial byte itself. It calls the mixer's mix, which sets
// its probability p and its output before the squash, dot (what the maps
// read, so the probability is not stretched again), but not the coded value
// predict returns. The match inputs, stretch domain (base 2), signed by the
// expected bit (+ for 1), 0 while no match expects it:
//   m0  stretch of the hit rate of the expected bit at this length bucket
//   m1  1 (the weight set learns the length's own strength)
//   m2  the length, capped at 32, over 16
//   m3  a second match's hit rate at its bucket, signed by its expected
//       bit (the word-code model's long matches; 0 in the other models)
//   m4  1, signed the same
//   m5..m7  0 (the mixers' dot product takes inputs in groups of eight)
// The coded probability is (p + 3 a) / 4 of the mixer's p and the map's a
// while a match expects the bit, (2 p + 3 a0 + 3 a1) / 8 otherwise.
#pragma once

#include <cstdint>

#include "coding/apm.h"
#include "coding/arithmetic.h"
#include "coding/byte_predictor.h"
#include "coding/hashes.h"
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
constexpr float final_apm_rate = 1.0f / 64;
constexpr int final_apm_contexts = 256 * 2 * match_buckets;  // partial byte x bucket x expected bit
constexpr int plain_apm_contexts = 256;                      // partial byte
constexpr int order1_apm_contexts = 256 * 256;               // partial byte x previous byte
constexpr int64_t order1_apm_min_elements = 65536;
// The flag's map: no match, then length bucket x (expected byte == guess).
constexpr int flag_apm_contexts = 1 + 2 * match_buckets;
constexpr float flag_apm_rate = 1.0f / 64;

// A byte model's hashed context while a match is active: the expected byte
// and the length bucket (tag tells it from the model's other contexts).
inline uint64_t match_context(uint32_t expected, uint32_t len, uint64_t tag) {
  return hash_a((uint64_t{expected} << 16) |
                (uint64_t{static_cast<uint32_t>(match_bucket(len))} << 8) | tag);
}

// Everything the strong methods add to one model call, taken from the arena
// before the model's frame and released after it: the match table and the
// final stage's tables.
struct strong_memory {
  uint32_t* match_table = nullptr;
  int match_log2 = 0;
  float* floats = nullptr;
  float* hit = nullptr;        // match_buckets
  float* hit2 = nullptr;       // match_buckets, of a second match model
  float* apm = nullptr;        // final_apm_contexts x apm_points
  float* plain_apm = nullptr;  // plain_apm_contexts x apm_points
  float* flag_apm = nullptr;   // flag_apm_contexts x apm_points
  // order1_apm_contexts x apm_points, in a block of its own; none for
  // streams of fewer than order1_apm_min_elements.
  float* order1_apm = nullptr;
};

// Sizes the match table for a stream of `elements` (at most 2^max_log2
// entries) and sets every table to its fresh state. The order-1 map is
// left out for short streams and, with order1_map false, for models whose
// time it costs more than it gains (the word codes: 9% of the time for
// 0.2% of the size).
void strong_open(strong_memory& s, int64_t elements, int max_log2, bool order1_map = true);
void strong_close(strong_memory& s);

template <class Inner>
struct final_stage {
  static constexpr int context_inputs = Inner::context_inputs;
  static constexpr int extra_inputs = match_inputs;
  Inner* inner = nullptr;
  strong_memory* mem = nullptr;
  // Per byte, set by begin_byte: the match's length (0 = none expects this
  // byte), its expected byte, and what follows from them.
  uint32_t mlen = 0, mexp = 0;
  bool agree = false;  // a match expects the byte and the byte's bits so far agreed
  int bucket = 0;
  uint32_t group = 0;
  float len = 0;              // m2 before its sign
  // A second match (a model's longer one, when it has one): its expected
  // byte while its bits so far agreed, and its length bucket.
  uint32_t mexp2 = 0;
  bool agree2 = false;
  int bucket2 = 0;
  int eb2 = -1;
  float* apm_rows = nullptr;  // the map's rows of this bucket (2 expected bits x 256)
  // Per bit.
  uint32_t c0 = 1;  // the byte's bits so far behind a leading 1
  int eb = -1;      // the expected bit, -1 when no match expects it
  float* xs = nullptr;
  apm_pick k, k1;     // the map's pick; the order-1 map's while no match expects the bit
  uint32_t prev = 0;  // the previous byte (the model's choice), set per byte

  void begin_byte(uint32_t l, uint32_t expected) {
    mlen = l;
    mexp = expected;
    agree = l > 0;
    c0 = 1;
    if (!agree) return;
    bucket = match_bucket(l);
    group = match_group(bucket);
    len = static_cast<float>(l < 32 ? l : 32) * 0.0625f;
    apm_rows = mem->apm + int64_t{512} * bucket * apm_points;
  }

  // After begin_byte, for a model with a second match model: its length
  // (0 = none expects this byte) and expected byte.
  void begin_second(uint32_t l, uint32_t expected) {
    mexp2 = expected;
    agree2 = l > 0;
    bucket2 = match_bucket(l);
  }

  // m3 and m4: the second match's hit rate and a bias, signed by its
  // expected bit, 0 while it expects none.
  [[gnu::always_inline]] void second_inputs(float* m, int j) {
    eb2 = -1;
    if (!agree2) return;
    eb2 = static_cast<int>((mexp2 >> (7 - j)) & 1);
    const float c = stretch(mem->hit2[bucket2]);
    m[3] = eb2 ? c : -c;
    m[4] = eb2 ? 1.0f : -1.0f;
  }

  // Inlined into the bit loop like the mixers it wraps.
  [[gnu::always_inline]] uint32_t predict(float* x, uint32_t visited, int j) {
    xs = x;
    float* m = x + context_inputs;
    for (int i = 3; i < match_inputs; i++) m[i] = 0.0f;
    m[5] = 0.25f;
    second_inputs(m, j);
    if (agree) {
      eb = static_cast<int>((mexp >> (7 - j)) & 1);
      const float c = stretch(mem->hit[bucket]);
      m[0] = eb ? c : -c;
      m[1] = eb ? 1.0f : -1.0f;
      m[2] = eb ? len : -len;
      inner->group = group;
      inner->mix(x, visited, j);
      const float p = inner->p;
      const float a = apm_refine(apm_rows, c0 | (static_cast<uint32_t>(eb) << 8), inner->dot, k);
      return prob12(clamp_c2n((p + (a + a + a)) * 0.25f));
    }
    eb = -1;
    m[0] = m[1] = m[2] = 0.0f;
    inner->group = 0;
    inner->mix(x, visited, j);
    const float p = inner->p;
    const float s = inner->dot;
    const float a0 = apm_refine(mem->plain_apm, c0, s, k);
    if (mem->order1_apm == nullptr) return prob12(clamp_c2n((p + (a0 + a0 + a0)) * 0.25f));
    const float a1 = apm_refine(mem->order1_apm, c0 | (prev << 8), s, k1);
    return prob12(clamp_c2n(((p + p) + ((a0 + a0 + a0) + (a1 + a1 + a1))) * 0.125f));
  }

  [[gnu::always_inline]] void update(const float*, int y) {
    inner->update(xs, y);
    apm_update(k, y, final_apm_rate);
    if (eb < 0 && mem->order1_apm != nullptr) apm_update(k1, y, final_apm_rate);
    if (eb >= 0) {
      float& h = mem->hit[bucket];
      h += (apm_target(y == eb) - h) * final_hit_rate;
      agree = y == eb;
    }
    if (eb2 >= 0) {
      float& h = mem->hit2[bucket2];
      h += (apm_target(y == eb2) - h) * final_hit_rate;
      agree2 = y == eb2;
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

  // The end of byte i's step in a model with a byte predictor: the
  // predictor learns the byte and, with the strong models, the match moves
  // on. Returns the next position.
  template <bool Strong>
  int64_t byte_done(byte_predictor& bp, int64_t i) {
    bp_update(bp, i);
    if constexpr (Strong) after(i);
    return i + 1;
  }
};

}  // namespace vesk
