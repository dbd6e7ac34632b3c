// The per-bit loop shared by every model: for one nibble, with the ways of
// the model's NC contexts already selected, each bit gathers two stretch
// inputs per context from its node slot, lets the model's mixer policy turn
// them into a 12-bit probability, codes the bit, and updates the slots and
// the mixer. The policy is a template parameter, so this inlines into one
// straight loop per model.
//
// Mixer policy interface:
//   uint32_t predict(float* x, uint32_t visited, int j)
//       x: 2 x NC inputs, followed by room for Policy::extra_inputs more
//       that the policy may write (none when it names no such constant);
//       visited: bit c set when context c's node has left its fresh A
//       state; j: bit position in the byte, 0 = most significant.
//       Returns c for the coder (1..4095).
//   void update(const float* x, int y)   after the bit y is known.
#pragma once

#include <cstdint>

#include "coding/arithmetic.h"
#include "coding/byte_predictor.h"
#include "coding/nibble_table.h"
#include "coding/states.h"

namespace vesk {

// The room a policy asks for after the contexts' inputs.
template <class Policy>
constexpr int extra_inputs_of() {
  if constexpr (requires { Policy::extra_inputs; }) {
    return Policy::extra_inputs;
  } else {
    return 0;
  }
}

template <int NC, bool Enc, class Policy>
inline uint32_t code_nibble(coder& k, uint16_t* const* ways, Policy& mix, int j0, uint32_t nibble) {
  // n: node index in the nibble's tree, 1 at the root; after four bits it is
  // 16 + the nibble's value.
  uint32_t n = 1;
  for (int b = 0; b < 4; b++) {
    alignas(16) float x[2 * NC + extra_inputs_of<Policy>()];
    uint32_t visited = 0;
    for (int c = 0; c < NC; c++) {
      uint16_t s = ways[c][n];
      x[2 * c] = value_a[s & 0xFF];
      x[2 * c + 1] = value_b[s >> 8];
      visited |= static_cast<uint32_t>(slot_visited(s)) << c;
    }
    uint32_t p12 = mix.predict(x, visited, j0 + b);
    int y = code_bit<Enc>(k, static_cast<int>((nibble >> (3 - b)) & 1), p12);
    for (int c = 0; c < NC; c++) ways[c][n] = slot_update(ways[c][n], y);
    mix.update(x, y);
    n = 2 * n + static_cast<uint32_t>(y);
  }
  return n - 16;
}

}  // namespace vesk

namespace vesk {

// Codes one byte as two nibbles over NC hashed contexts: h holds the first
// nibble's context hashes, and the second nibble's are h ^ second[high
// nibble]. When encoding, the second nibble's buckets are prefetched as
// soon as the first nibble's ways are chosen, since the whole byte is known.
// Decoding learns the high nibble only after its four bits, and prefetches
// then; a model that has a likely high nibble (its byte predictor's guess)
// passes it as likely_hi, and decoding loads that nibble's index entries
// first of all, or, when the lookahead loaded them already (likely_loaded),
// its buckets along with the first nibble's. Returns the byte (the decoded
// one when decoding).
template <int NC, bool Enc, class Table, class Policy>
inline uint8_t code_byte(Table& table, coder& k, const uint64_t* h, const uint64_t* second,
                         Policy& mix, uint8_t byte, int likely_hi = -1,
                         bool likely_loaded = false) {
  // Every selection is a cache miss or two: start them all before waiting
  // on the first.
  uint16_t* ways[NC];
  if constexpr (!Enc) {
    if (likely_hi >= 0) {
      const uint64_t g = second[likely_hi];
      if (likely_loaded) {
        for (int c = 0; c < NC; c++) table.prefetch(h[c] ^ g);
      } else {
        for (int c = 0; c < NC; c++) table.prefetch_index(h[c] ^ g);
      }
    }
  }
  for (int c = 0; c < NC; c++) table.prefetch(h[c]);
  for (int c = 0; c < NC; c++) ways[c] = select(table, h[c]);
  if constexpr (Enc) {
    const uint64_t f = second[byte >> 4];
    for (int c = 0; c < NC; c++) table.prefetch(h[c] ^ f);
  }
  const uint32_t hi = code_nibble<NC, Enc>(k, ways, mix, 0, byte >> 4);
  const uint64_t f = second[hi];
  if constexpr (!Enc) {
    for (int c = 0; c < NC; c++) table.prefetch(h[c] ^ f);
  }
  for (int c = 0; c < NC; c++) ways[c] = select(table, h[c] ^ f);
  const uint32_t lo = code_nibble<NC, Enc>(k, ways, mix, 4, byte & 15u);
  return static_cast<uint8_t>((hi << 4) | lo);
}

// The likeliest high nibble of the byte a decoder is about to decode, for
// code_byte's likely_hi: among the byte predictor's guess and the bytes one
// to four places back, the candidate whose high nibble was right most
// often lately at this position modulo 4. Audio repeats the high byte of
// the sample before (while its low bytes follow nothing), a photograph the
// byte of the pixel before, text follows the predictor. Only which memory
// loads first depends on it, never the coded bits.
struct likely_nibble {
  static constexpr int candidates = 5;
  static constexpr int phases = 4;
  // A hit adds 4096 and every byte of the phase takes a sixteenth away, so
  // a candidate right at rate r scores about 65536 r.
  static constexpr uint32_t sure_score = 65536 * 7 / 10;
  uint32_t score[phases][candidates] = {};

  static uint8_t candidate(const uint8_t* p, uint8_t guess, int c) {
    return c == 0 ? guess : p[-c];
  }
  static int best_of(const uint32_t* sc) {
    int best = 0;
    for (int c = 1; c < candidates; c++)
      if (sc[c] > sc[best]) best = c;
    return best;
  }
  // The byte to decode is buf[i]; four bytes precede it.
  int pick(const uint8_t* buf, int64_t i, uint8_t guess) const {
    return candidate(buf + i, guess, best_of(score[i & (phases - 1)])) >> 4;
  }
  // Whether the pick has lately been right in seven bytes of ten or more:
  // then loading its buckets early pays for the loads it wastes.
  bool sure(int64_t i) const {
    const uint32_t* sc = score[i & (phases - 1)];
    return sc[best_of(sc)] > sure_score;
  }
  // Learns buf[i], now decoded.
  void learn(const uint8_t* buf, int64_t i, uint8_t guess) {
    uint32_t* sc = score[i & (phases - 1)];
    for (int c = 0; c < candidates; c++) {
      const uint32_t hit = (candidate(buf + i, guess, c) >> 4) == (buf[i] >> 4);
      sc[c] += (hit << 12) - (sc[c] >> 4);
    }
  }
};

// Whether the byte predictor's guess is confident enough for the flag: p,
// widened to double, above the threshold.
inline bool guess_confident(const byte_predictor& bp, double threshold) {
  return static_cast<double>(bp.p) > threshold;
}

// Whether a lookahead can skip loading the buckets of the byte that `peek`
// predicts: the flag will code it and no bucket is selected. Encoding knows
// the byte; decoding trusts a confident guess, which is right about nineteen
// times in twenty (text and code), so the loads it would waste cost more
// than the one it misses.
inline bool flag_will_code(const byte_predictor& peek, double threshold, bool encoding,
                           uint8_t byte) {
  return guess_confident(peek, threshold) && (!encoding || peek.guess == byte);
}

// The byte predictor's flag: when its guess is confident one bit says
// whether the byte is the guess. Returns true when that bit completed the
// byte (decoding stores the guess).
template <bool Enc>
inline bool code_guess_flag(coder& k, byte_predictor& bp, uint8_t& byte, double threshold) {
  bp.flag_coded = 0;
  if (!guess_confident(bp, threshold)) return false;
  bp.flag_coded = 1;
  if (!code_bit<Enc>(k, byte == bp.guess, prob12(bp.p))) return false;
  if constexpr (!Enc) byte = bp.guess;
  return true;
}

}  // namespace vesk
