// The word-code model: codes the text method's word-code stream, one 32-bit
// slot per token holding a one- to three-byte code (first byte 0xxxxxxx,
// 10xxxxxx or 11xxxxxx) with zero bytes above it. Only the code bytes are
// coded; the zeros above a code are skipped in both directions. The contexts
// are whole earlier slot values and the first bytes of the earlier slots,
// hashed as byte keys of 8 to 20 bytes, in an 8 GiB table; one 16-input
// mixer with up to 2048 weight sets selected by the bit position, the
// byte's place in its code and which context orders have been seen.

#include "coding/hashes.h"
#include "coding/logistic.h"
#include "coding/mixer.h"
#include "coding/nibble_coder.h"
#include "coding/nibble_table.h"
#include "models/model.h"
#include "models/model_common.h"
#include "util/bytes.h"

namespace vesk {

namespace {

constexpr int contexts = 8;
constexpr int inputs = 2 * contexts;
constexpr int reset_floats = 65536;  // sets 0..4095: every set the selector can name
constexpr float fresh_weight = 0.0625f;
constexpr double learning_rate = 0.0005;

struct word_mixer {
  float* weights;
  const squash_table* sq;
  uint32_t base = 0;  // 8 x S + 1024 x Z: the part of the set fixed for the byte
  float* set = nullptr;
  float p = 0;

  uint32_t predict(const float* x, uint32_t visited, int j) {
    // Wd: the longest word history seen (contexts 4, 3, 2); L: the longest
    // first-byte history seen (contexts 8, 7, 6).
    uint32_t wd = (visited & 0x08) ? 3 : (visited & 0x04) ? 2 : (visited & 0x02) ? 1 : 0;
    uint32_t l = (visited & 0x80) ? 3 : (visited & 0x40) ? 2 : (visited & 0x20) ? 1 : 0;
    uint32_t sel = 2 * (static_cast<uint32_t>(j) / 2) + base + 64 * l + 256 * wd;
    set = weights + inputs * sel;
    int32_t t = squash_index(mix_dot<inputs>(x, set));
    if (!mix_t_valid(t)) {
      fill_weights(weights, reset_floats, fresh_weight);
      t = 0;
    }
    p = sq->v[t + squash_table_zero];
    float c2n = clamp_c2n(p);
    check(c2n > 0 && c2n < 1, "c2n>0 && c2n<1");
    return prob12(c2n);
  }

  void update(const float* x, int y) { mix_train<inputs>(x, set, mix_error(y, p, learning_rate)); }
};

// The history of the walk: set when it reaches the first byte of a slot.
struct word_history {
  uint32_t w1 = 0, w2 = 0, w3 = 0;  // the three most recent non-zero slots
  uint32_t z = 0;                   // the slot before this one is non-zero
  uint32_t b1 = 0, b2 = 0, b3 = 0;  // first bytes of the three slots before this one
};

// A key of five 32-bit values: 2k, P and three history values.
inline uint64_t key_pair(uint32_t lo, uint32_t hi) {
  return uint64_t{lo} | uint64_t{hi} << 32;
}

constexpr model_spec spec{table_8g, 2 * contexts, reset_floats, fresh_weight, 0, 0, false};

}  // namespace

void wordcode_model(uint8_t* buf, int32_t length, coder& k, int direction,
                    const table_limits& limits) {
  uint64_t second[16];
  for (uint32_t v = 0; v < 16; v++) second[v] = nibble_hash(v);
  word_mixer mix;
  word_history st;
  auto setup = [&](model_frame& f) {
    mix.weights = f.weights;
    mix.sq = &f.sq;
  };
  // Position i: walks to the next byte that belongs to a code (it may be
  // buf[length], the one byte past the slots), codes it and returns the
  // position after it.
  auto step = [&]<bool Enc>(auto& table, int64_t i) -> int64_t {
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
    kk = i & 3;
    if (kk == 0) {
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
    const int64_t first = i - kk;
    const uint32_t p = s == 0   ? 0xFFFFFFFF
                       : s == 3 ? (buf[first] | uint32_t{buf[first + 1]} << 8)
                                : buf[first];

    const uint64_t zmask = st.z ? 0x85f56287cd2cfc5e : 0;
    const uint64_t h0 = key_word(key_pair(static_cast<uint32_t>(2 * kk), p), key_m1);
    uint64_t h[contexts];
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

    mix.base = 8 * s + 1024 * st.z;
    const uint8_t v = code_byte<contexts, Enc>(table, k, h, second, mix, buf[i]);
    if constexpr (!Enc) buf[i] = v;
    return i + 1;
  };
  model_run(spec, buf, length, k, direction, limits, setup, step);
}

}  // namespace vesk
