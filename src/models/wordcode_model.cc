// The word-code model: codes the text method's word-code stream, one 32-bit
// slot per token holding a one- to three-byte code (first byte 0xxxxxxx,
// 10xxxxxx or 11xxxxxx) with zero bytes above it. Only the code bytes are
// coded; the zeros above a code are skipped in both directions. The contexts
// are whole earlier slot values and the first bytes of the earlier slots,
// hashed as byte keys of 8 to 20 bytes, in an 8 GiB table; one 16-input
// mixer with up to 2048 weight sets selected by the bit position, the
// byte's place in its code and which context orders have been seen.

#include <algorithm>
#include <cstring>
#include <vector>

#include "coding/hashes.h"
#include "coding/logistic.h"
#include "coding/mixer.h"
#include "coding/nibble_coder.h"
#include "coding/nibble_table.h"
#include "models/final_stage.h"
#include "models/match_model.h"
#include "models/model.h"
#include "models/model_common.h"
#include "util/arena.h"
#include "util/bytes.h"

namespace vesk {

namespace {

constexpr int contexts = 8;
constexpr int inputs = 2 * contexts;
constexpr int selector_sets = 4096;  // every set the selector can name
constexpr int reset_floats = selector_sets * inputs;
constexpr float fresh_weight = 0.0625f;
constexpr double learning_rate = 0.0005;
// The strong models' mixer learns faster: its inputs include the matches',
// whose weight sets see fewer bits each.
constexpr double strong_learning_rate = 0.0012;

// N inputs: the contexts', and in the strong models the match model's.
template <int N>
struct word_mixer {
  static constexpr int context_inputs = inputs;
  static constexpr int weight_floats =
      N == inputs ? reset_floats : match_groups * selector_sets * N;
  float* weights;
  const squash_table* sq;
  uint32_t base = 0;   // 8 x S + 1024 x Z: the part of the set fixed for the byte
  uint32_t group = 0;  // the match's group of weight sets (strong models)
  float* set = nullptr;
  float dot = 0;  // the mixer's output, stretch domain (base 2)
  float p = 0;

  // Sets p (and dot); predict also returns the coded value.
  void mix(const float* x, uint32_t visited, int j) {
    // Wd: the longest word history seen (contexts 4, 3, 2); L: the longest
    // first-byte history seen (contexts 8, 7, 6).
    uint32_t wd = (visited & 0x08) ? 3 : (visited & 0x04) ? 2 : (visited & 0x02) ? 1 : 0;
    uint32_t l = (visited & 0x80) ? 3 : (visited & 0x40) ? 2 : (visited & 0x20) ? 1 : 0;
    uint32_t sel =
        2 * (static_cast<uint32_t>(j) / 2) + base + 64 * l + 256 * wd + selector_sets * group;
    set = weights + N * sel;
    dot = mix_dot<N>(x, set);
    p = mix_squash(dot, *sq, weights, weight_floats, fresh_weight);
  }
  uint32_t predict(const float* x, uint32_t visited, int j) {
    mix(x, visited, j);
    return clamped_prob12(clamp_c2n(p));
  }

  void update(const float* x, int y) {
    mix_train<N>(x, set, mix_error(y, p, N == inputs ? learning_rate : strong_learning_rate));
  }
};

// The history of the walk: set when it reaches the first byte of a slot.
struct word_history {
  uint32_t w1 = 0, w2 = 0, w3 = 0;  // the three most recent non-zero slots
  uint32_t z = 0;                   // the slot before this one is non-zero
  uint32_t b1 = 0, b2 = 0, b3 = 0;  // first bytes of the three slots before this one
};

// A coded byte: its position, its code's kind s (0 first byte, 1 second of
// a two-byte code, 2 and 3 second and third of a three-byte code).
struct word_place {
  int64_t i;
  uint32_t s;
};

// From position i, walks to the next byte that belongs to a code (it may be
// buf[length], the one byte past the slots), updating the history when it
// reaches the first byte of a slot.
inline word_place walk(const uint8_t* buf, int64_t i, word_history& st) {
  int64_t kk = i & 3;
  uint32_t s = 0;
  if (kk != 0) {
    uint8_t b0 = buf[i - kk];
    if (b0 < 0x80) {
      i += 3;
    } else if ((b0 & 0xC0) == 0x80) {
      if (kk == 1) {
        s = 1;
      } else {
        i += 2;
      }
    } else {
      if (kk == 1) {
        s = 2;
      } else if (kk == 2) {
        s = 3;
      } else {
        i += 1;
      }
    }
  }
  if ((i & 3) == 0) {
    uint32_t v = get_u32(buf + i - 4);
    if (v != 0) {
      st.w3 = st.w2;
      st.w2 = st.w1;
      st.w1 = v;
    }
    st.z = v != 0;
    st.b1 = buf[i - 4];
    st.b2 = buf[i - 8];
    st.b3 = buf[i - 12];
  }
  return {i, s};
}

// A key of five 32-bit values: 2k, P and three history values.
inline uint64_t key_pair(uint32_t lo, uint32_t hi) {
  return uint64_t{lo} | uint64_t{hi} << 32;
}

// The first nibble's context hashes of the coded byte at w.
inline void word_hashes(const uint8_t* buf, word_place w, const word_history& st, uint64_t* h) {
  const int64_t kk = w.i & 3, first = w.i - kk;
  const uint32_t p = w.s == 0   ? 0xFFFFFFFF
                     : w.s == 3 ? (buf[first] | uint32_t{buf[first + 1]} << 8)
                                : buf[first];
  const uint64_t zmask = st.z ? 0x85f56287cd2cfc5e : 0;
  const uint64_t h0 = key_word(key_pair(static_cast<uint32_t>(2 * kk), p), key_m1);
  h[0] = h0 ^ 0x3498743967918739;
  h[1] = h0 ^ key_word(key_pair(p, st.w1), key_m2) ^ 0xdf37affc6142a ^ zmask;
  const uint64_t w12 = key_word(key_pair(st.w1, st.w2), key_m2);
  h[2] = h0 ^ w12 ^ 0xdf37affc6142a ^ zmask;
  h[3] = h0 ^ w12 ^ key_word(key_pair(st.w2, st.w3), key_m3) ^ 0x356dc5796a4561bf ^ zmask;
  h[4] = h0 ^ key_word(key_pair(p, st.b1), key_m2) ^ 0xdf37affc6142a ^ zmask;
  const uint64_t b12 = key_word(key_pair(st.b1, st.b2), key_m2);
  h[5] = h0 ^ b12 ^ 0xdf37affc6142a ^ zmask;
  h[6] = h0 ^ b12 ^ key_word(key_pair(st.b2, st.b3), key_m3) ^ 0x356dc5796a4561bf ^ zmask;
  h[7] = 0x7359872359273491 ^ zmask;
}

// When encoding, a second walk runs ahead of the coding one and computes
// the hashes of the next two coded bytes, so that their index entries and
// buckets are loaded while the current byte is coded.
struct word_lookahead {
  word_history st;
  int64_t next = 0;  // where the walk ahead resumes
  int live = 0;      // entries of ring[] filled
  uint64_t ring[2][2 * contexts] = {};
  int head = 0;  // ring[head] is the next coded byte's hashes

  template <class Table>
  void fill(const uint8_t* buf, int64_t length, const uint64_t* second, Table& table) {
    while (live < 2 && next < length) {
      const word_place w = walk(buf, next, st);
      next = w.i + 1;
      uint64_t* h = ring[(head + live) % 2];
      word_hashes(buf, w, st, h);
      for (int c = 0; c < contexts; c++) h[contexts + c] = h[c] ^ second[buf[w.i] >> 4];
      for (int c = 0; c < 2 * contexts; c++) table.prefetch_index(h[c]);
      live++;
    }
  }
};

template <int N>
constexpr model_kind kind{table_8g, 2 * contexts, word_mixer<N>::weight_floats, fresh_weight, 0,
                          0,        false};

// The strong method's match model runs over whole slots: a match of the
// last match_minlen slots expects the slot that followed them, and each of
// its code bytes while the slot's earlier bytes agree.
constexpr int match_minlen = 2;
constexpr int match_max_log2 = 22;
// The second match model follows repeats of at least this many slots: the
// long ones, which the first (taking the latest two-slot repeat) loses.
constexpr int long_match_minlen = 10;

template <bool Strong>
void code_words(uint8_t* buf, int32_t length, coder& k, int direction,
                const model_options& options) {
  uint64_t second[16];
  for (uint32_t v = 0; v < 16; v++) second[v] = nibble_hash(v);
  constexpr int n_inputs = Strong ? inputs + match_inputs : inputs;
  using mixer = word_mixer<n_inputs>;
  mixer mix;
  strong_memory strong;
  final_stage<mixer> fin;
  match_model mm, mm2;
  uint32_t* long_table = nullptr;
  auto slot = [&](int64_t q) -> uint64_t { return get_u32(buf + 4 * q); };
  if constexpr (Strong) {
    strong_open(strong, length / 4 + 1, match_max_log2, false);
    fin.inner = &mix;
    fin.mem = &strong;
    match_init(mm, strong.match_table, strong.match_log2, match_minlen);
    long_table = reinterpret_cast<uint32_t*>(
        arena_alloc_zeroed((int64_t{1} << strong.match_log2) * int64_t{sizeof(uint32_t)}));
    match_init(mm2, long_table, strong.match_log2, long_match_minlen);
  }
  auto& policy = nibble_policy<Strong>(fin, mix);
  word_history st;
  auto setup = [&](model_frame& f) {
    mix.weights = f.weights;
    mix.sq = &f.sq;
  };
  word_lookahead ahead;
  // Decoding: the byte last decoded under each (hashed) order-2 word
  // context, whose high nibble's index entries load first.
  std::vector<uint8_t> last_seen(direction == compress_dir ? 0 : 65536);
  // Position i: walks to the next byte that belongs to a code, codes it and
  // returns the position after it.
  auto step = [&]<bool Enc>(auto& table, int64_t i) -> int64_t {
    if constexpr (Enc) {
      // The walk ahead is one or two coded bytes in front of this one: the
      // next one's buckets are loaded now, its index entries a byte ago.
      if (ahead.next <= i) {
        ahead = word_lookahead{};
        ahead.st = st;
        ahead.next = i;
      }
      ahead.fill(buf, length, second, table);
      if (ahead.live > 0) {
        ahead.head = (ahead.head + 1) % 2;
        ahead.live--;
      }
      ahead.fill(buf, length, second, table);
      if (ahead.live > 0)
        for (uint64_t h : ahead.ring[ahead.head]) table.prefetch(h);
    }
    const word_place w = walk(buf, i, st);
    uint64_t h[contexts];
    word_hashes(buf, w, st, h);
    mix.base = 8 * w.s + 1024 * st.z;
    if constexpr (Strong) {
      const int64_t kk = w.i & 3, first = w.i - kk;
      if (kk == 0) {
        match_next(mm, slot, first / 4);
        match_next(mm2, slot, first / 4);
      }
      // The match expects this byte while the slot's earlier bytes agree.
      const uint8_t* e = buf + 4 * mm.ptr;
      const bool agree = mm.len > 0 && std::memcmp(e, buf + first, static_cast<size_t>(kk)) == 0;
      fin.begin_byte(agree ? mm.len : 0, e[kk]);
      const uint8_t* e2 = buf + 4 * mm2.ptr;
      const bool agree2 =
          mm2.len > 0 && mm2.ptr != mm.ptr && std::memcmp(e2, buf + first, static_cast<size_t>(kk)) == 0;
      fin.begin_second(agree2 ? mm2.len : 0, e2[kk]);
      fin.prev = kk ? buf[w.i - 1] : st.b1;
      // While a match expects the byte it takes the order-0 context: the
      // expected slot, the byte's place in it and the length, capped.
      if (agree) {
        const uint32_t place = static_cast<uint32_t>(kk) | (std::min(mm.len, 15u) << 8);
        h[7] = key_word(key_pair(get_u32(e), place), key_m2) ^ 0x7654321 ^
               (st.z ? 0x85f56287cd2cfc5e : 0);
      } else {
        // Otherwise it takes the slot two back, skipping the last one.
        const uint32_t p = w.s == 0   ? 0xFFFFFFFF
                           : w.s == 3 ? (buf[first] | uint32_t{buf[first + 1]} << 8)
                                      : buf[first];
        h[7] = key_word(key_pair(static_cast<uint32_t>(2 * kk), p), key_m1) ^
               key_word(key_pair(p, st.w2), key_m3) ^ 0x2468ace13579bdf ^ (st.z ? 0x85f56287cd2cfc5e : 0);
      }
    }
    if constexpr (Enc) {
      code_byte<contexts, Enc>(table, k, h, second, policy, buf[w.i]);
    } else {
      uint8_t& seen = last_seen[h[2] >> 48];
      seen = code_byte<contexts, Enc>(table, k, h, second, policy, buf[w.i], seen >> 4);
      buf[w.i] = seen;
    }
    return w.i + 1;
  };
  model_run(kind<n_inputs>, buf, length, k, direction, options, setup, step);
  if constexpr (Strong) {
    arena_free(long_table);
    strong_close(strong);
  }
}

}  // namespace

void wordcode_model(uint8_t* buf, int32_t length, coder& k, int direction,
                    const model_options& options) {
  if (options.strong) {
    code_words<true>(buf, length, k, direction, options);
  } else {
    code_words<false>(buf, length, k, direction, options);
  }
}

}  // namespace vesk
