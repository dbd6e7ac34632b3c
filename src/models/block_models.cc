// The x86 model and the block model: one implementation with two presets.
// Twelve hashed contexts (orders 0 to 6 or 7, three sparse combinations of
// the nearest bytes, two column contexts at strides 8 and 12, the byte
// predictor's guess, the zero pattern of the last 24 bytes), two 24-input
// mixers whose outputs are averaged in the stretch domain, no clamp.
//   x86 model:   8 GiB table, order 6, context 8 = b3 b2
//   block model: 2 GiB table, order 7, context 8 = b4 b3 b2

#include "coding/byte_predictor.h"
#include "coding/hashes.h"
#include "coding/logistic.h"
#include "coding/mixer.h"
#include "coding/nibble_coder.h"
#include "coding/nibble_table.h"
#include "models/final_stage.h"
#include "models/media.h"
#include "models/model.h"
#include "models/model_common.h"

namespace vesk {

namespace {

constexpr int contexts = 12;
constexpr int inputs = 2 * contexts;
constexpr int sets_a = 10;                    // bit half (2) x longest order seen (5)
constexpr int sets_b = 512;                   // miss flag (2) x previous byte (256)
constexpr float fresh_weight = 0.041666668f;  // 1/24
constexpr double rate_a = 0.001;
constexpr double strong_rate_a = 0.002;  // the strong models' first mixer, which reads the matches
constexpr double rate_b = 0.008;
constexpr int32_t t_high = 1952;
constexpr double flag_threshold = 0.7;
constexpr uint64_t selections_per_byte = 2 * contexts;

struct preset {
  table_shape shape;
  bool block;  // order 7 for context 5, b4 in context 8
};

constexpr preset x86_preset{table_8g, false};
constexpr preset block_preset{table_2g, true};

// N inputs: the contexts', and in the strong models the match model's,
// which only the first mixer reads; its sets then come in match groups.
template <int N>
struct pair_mixer {
  static constexpr int context_inputs = inputs;
  static constexpr int groups = N == inputs ? 1 : match_groups;
  static constexpr int weight_floats = sets_a * groups * N + sets_b * inputs;
  float* wa;  // groups x sets_a x N
  float* wb;  // sets_b x inputs
  const squash_table* sq;
  uint32_t group = 0;  // the match's group of weight sets (strong models)
  int b1 = 0;          // previous byte
  int miss = 0;        // a bit of this byte was coded on the wrong side of 1/2
  float* set_a = nullptr;
  float* set_b = nullptr;
  float pa = 0, pb = 0, p = 0;
  float dot = 0;  // the two mixers' mean output, stretch domain (base 2)

  // Sets p, pa, pb and dot; predict also returns the coded value.
  void mix(const float* x, uint32_t visited, int j) {
    int f = (visited & 0x10)   ? 8
            : (visited & 0x08) ? 6
            : (visited & 0x04) ? 4
            : (visited & 0x02) ? 2
                               : 0;
    set_a = wa + N * (static_cast<uint32_t>((j >= 4) + f) + sets_a * group);
    set_b = wb + inputs * (miss + 2 * b1);
    float da = mix_dot<N>(x, set_a);
    float db = mix_dot<inputs>(x, set_b);
    int32_t ta = squash_index(da), tb = squash_index(db);
    if (!mix_t_valid(ta, t_high) || !mix_t_valid(tb, t_high)) {
      fill_weights(wa, sets_a * groups * N, fresh_weight);
      fill_weights(wb, sets_b * inputs, fresh_weight);
      da = db = 0;
      ta = tb = 0;
    }
    dot = (da + db) * 0.5f;
    p = sq->v[squash_index(dot) + squash_table_zero];
    pa = sq->v[ta + squash_table_zero];
    pb = sq->v[tb + squash_table_zero];
  }
  uint32_t predict(const float* x, uint32_t visited, int j) {
    mix(x, visited, j);
    return prob12(p);
  }

  void update(const float* x, int y) {
    mix_train<N>(x, set_a, mix_error(y, pa, N == inputs ? rate_a : strong_rate_a));
    mix_train<inputs>(x, set_b, mix_error(y, pb, rate_b));
    if ((y == 1 && p < 0.5f) || (y == 0 && p > 0.5f)) miss = 1;
  }
};

// The strong methods' match model: minimum length, table size.
constexpr int match_minlen = 5;
constexpr int match_max_log2 = 22;

int clamp_byte(int v) {
  return v < 0 ? 0 : v > 255 ? 255 : v;
}
int clamp_sample(int v) {
  return v < -32768 ? -32768 : v > 32767 ? 32767 : v;
}
int bucket_of(int v) {
  int b = 0;
  for (v = v < 0 ? -v : v; v > 0 && b < 15; v >>= 1) b++;
  return b;
}

// In the strong block model, the contexts of a medium's sample at i, in
// place of contexts 4 to 11, and the byte they predict (the final stage's
// map reads it). An image's byte sees the same channel's bytes to its left
// (W, WW), above (N, NN) and around (NW, NE), and predictions made of them;
// an audio sample's bytes the samples of its channel before it and the
// predictions of polynomials through them.
uint32_t media_hashes(const uint8_t* buf, int64_t i, const media_tracker& m, uint64_t* h) {
  const media_format& f = m.format;
  const int64_t rel = i - m.start;
  auto at = [&](int64_t back) -> int { return back <= rel ? buf[i - back] : 0; };
  if (f.kind == media_format::image) {
    const int64_t ch = f.channels, st = f.stride, x = rel % st;
    const uint64_t c = static_cast<uint64_t>(x % ch);
    const bool left = x >= ch, right = x + ch < st;
    const int n = at(st), nn = at(2 * st);
    const int w = left ? at(ch) : n, ww = x >= 2 * ch ? at(2 * ch) : w;
    const int nw = left ? at(st + ch) : n, ne = right ? at(st - ch) : n;
    const int nne = right ? at(2 * st - ch) : nn;
    const int grad = clamp_byte(w + n - nw);
    const int prev = c > 0 ? at(1) - (left ? at(ch + 1) : at(st + 1)) : 0;  // the pixel's other channel
    const auto v = [](int a) { return static_cast<uint64_t>(a); };
    h[0] = hash_a((c << 32) | (v(w) << 16) | (v(n) << 8) | 0x40);
    h[1] = hash_a((c << 32) | (v(grad) << 8) | 0x41);
    h[2] = hash_a((c << 32) | (v(n) << 16) | (v(ne) << 8) | 0x42);
    h[3] = hash_a((c << 32) | (v(w) << 16) | (v(nw) << 8) | 0x43);
    h[4] = hash_a((c << 32) | (v(clamp_byte(2 * n - nn)) << 16) | (v(clamp_byte(2 * w - ww)) << 8) | 0x44);
    h[5] = hash_a((c << 32) | (v(clamp_byte(w + prev)) << 16) | (v(clamp_byte(n + prev)) << 8) | 0x45);
    h[6] = hash_a((c << 32) | (v((w + n + nw + ne + 2) >> 2) << 8) | 0x46);
    h[7] = hash_a((c << 40) | (v(clamp_byte(n + ne - nne)) << 24) |
                  (v(bucket_of(w - nw) + 16 * bucket_of(n - nw)) << 8) | 0x47);
    return static_cast<uint32_t>(grad);
  }
  const int64_t sb = f.sample_bytes, frame = sb * f.channels, k = rel % sb;
  const uint64_t kk = static_cast<uint64_t>(k);
  if (sb == 1) {
    const int s1 = at(frame), s2 = at(2 * frame), s3 = at(3 * frame);
    const int p2 = clamp_byte(2 * s1 - s2), p3 = clamp_byte(3 * s1 - 3 * s2 + s3);
    const uint64_t e = static_cast<uint64_t>(bucket_of(s1 - (2 * s2 - s3)));
    h[0] = hash_a((static_cast<uint64_t>(s1) << 8) | 0x50);
    h[1] = hash_a((static_cast<uint64_t>(p2) << 16) | (e << 8) | 0x51);
    h[2] = hash_a((static_cast<uint64_t>(p3) << 16) | (e << 8) | 0x52);
    h[3] = hash_a((static_cast<uint64_t>(s1) << 16) | (static_cast<uint64_t>(s2) << 8) | 0x53);
    for (int j = 4; j < 8; j++) h[j] = hash_a((static_cast<uint64_t>(p2 >> (j - 3)) << 8) | (0x50 + j));
    return static_cast<uint32_t>(p2);
  }
  // 16-bit little-endian samples: the low byte first, then the high one.
  auto sample = [&](int64_t back) -> int {
    const int64_t b = k + back * frame;  // its low byte, back from i
    if (b > rel) return 0;
    return static_cast<int16_t>(buf[i - b] | (buf[i - b + 1] << 8));
  };
  const int s1 = sample(1), s2 = sample(2), s3 = sample(3), s4 = sample(4);
  const int p1 = s1, p2 = clamp_sample(2 * s1 - s2), p3 = clamp_sample(3 * s1 - 3 * s2 + s3);
  const uint64_t e2 = static_cast<uint64_t>(bucket_of(s1 - (2 * s2 - s3)));
  const uint64_t e3 = static_cast<uint64_t>(bucket_of(s1 - (3 * s2 - 3 * s3 + s4)));
  const auto u = [](int a) { return static_cast<uint64_t>(static_cast<uint32_t>(a) & 0xFFFF); };
  if (k == 0) {
    h[0] = hash_a((u(p2) & 0xFF) << 16 | e2 << 8 | 0x58);
    h[1] = hash_a((u(p1) & 0xFF) << 16 | e2 << 8 | 0x59);
    h[2] = hash_a((u(p3) & 0xFF) << 16 | e3 << 8 | 0x5A);
    h[3] = hash_a(u(p2) << 16 | 0x5B);
    h[4] = hash_a(u(p3) << 16 | 0x5C);
    h[5] = hash_a((u(p2) >> 4) << 16 | e2 << 8 | 0x5D);
    h[6] = hash_a(u(s1) << 16 | 0x5E);
    h[7] = hash_a(e2 << 16 | e3 << 8 | 0x5F);
    return static_cast<uint32_t>(u(p2) & 0xFF);
  }
  const int lo = buf[i - 1];
  auto high_for = [&](int p) { return static_cast<uint64_t>(((p - lo + 128) >> 8) & 0xFF); };
  h[0] = hash_a(high_for(p2) << 16 | e2 << 8 | 0x60);
  h[1] = hash_a(high_for(p1) << 16 | e2 << 8 | 0x61);
  h[2] = hash_a(high_for(p3) << 16 | e3 << 8 | 0x62);
  h[3] = hash_a(high_for(p2) << 24 | high_for(p3) << 16 | 0x63);
  h[4] = hash_a(u(s1) << 16 | static_cast<uint64_t>(lo) << 8 | 0x64);
  h[5] = hash_a(high_for(p2) << 16 | static_cast<uint64_t>(lo >> 4) << 8 | 0x65);
  h[6] = hash_a((u(s1) >> 8) << 16 | (u(s2) >> 8) << 8 | 0x66);
  h[7] = hash_a(high_for((p1 + p2) / 2) << 16 | e2 << 8 | 0x67);
  (void)kk;
  return static_cast<uint32_t>(high_for(p2));
}

template <bool Block, bool Strong>
void code_stream(uint8_t* buf, int32_t length, coder& k, int direction,
                 const model_options& options) {
  constexpr preset pre = Block ? block_preset : x86_preset;
  constexpr int n_inputs = Strong ? inputs + match_inputs : inputs;
  using mixer = pair_mixer<n_inputs>;
  constexpr model_kind kind{pre.shape, selections_per_byte, mixer::weight_floats, fresh_weight,
                            3,         bp_preset_bytes};
  uint64_t second[16];  // hash_a of each high nibble
  for (uint32_t v = 0; v < 16; v++) second[v] = hash_a(v);
  uint32_t zr = zero_flags_start;
  // The strong block model's words: the hash of the word being read
  // (letters, digits and "_") and of the word before it.
  uint64_t word = 0, last_word = 0;
  uint32_t printable = 0;  // bit m-1: the byte m places back is printable text
  mixer mix;
  byte_stage<mixer> strong;
  if constexpr (Strong) strong.open(&mix, buf, length, match_max_log2, match_minlen);
  auto& policy = nibble_policy<Strong>(strong.fin, mix);
  media_tracker media;   // the strong block model's
  likely_nibble likely;  // decoding only
  auto early = [&](int64_t i) { return Block && likely.sure(i); };
  const uint64_t* key = nullptr;
  byte_predictor* bp = nullptr;
  auto setup = [&](model_frame& f) {
    mix.wa = f.weights;
    mix.wb = f.weights + sets_a * mixer::groups * n_inputs;
    mix.sq = &f.sq;
    key = f.key;
    bp = &f.bp;
  };
  // The contexts of position i, given the zero flags and the guess there;
  // inside a medium (the strong block model), the medium's contexts and
  // the byte they predict, else -1.
  auto hashes = [&](int64_t i, uint32_t zflags, uint8_t guess, uint64_t* h) -> int {
    auto b = [&](int m) { return uint64_t{buf[i - m]}; };
    h[0] = order0_hash;
    h[1] = key[buf[i - 1]] ^ order1_mix;
    h[2] = order_next(h[1], key, buf[i - 2]);
    h[3] = order_next(h[2], key, buf[i - 3]);
    uint64_t c =
        order_next(order_next(order_next(h[3], key, buf[i - 4]), key, buf[i - 5]), key, buf[i - 6]);
    if constexpr (Block) c = order_next(c, key, buf[i - 7]);
    h[4] = c;
    h[5] = hash_a((b(2) << 8) + 5);
    h[6] = hash_a((b(3) << 16) + (b(1) << 8) + 6);
    if constexpr (Block) {
      h[7] = hash_a(((b(4) << 24) | (b(3) << 16) | (b(2) << 8)) + 7);
    } else {
      h[7] = hash_a(((b(3) << 16) | (b(2) << 8)) + 7);
    }
    h[8] = hash_a(((b(32) << 32) | (b(24) << 24) | (b(16) << 16) | (b(8) << 8)) + 8);
    h[9] = hash_a(((b(48) << 32) | (b(36) << 24) | (b(24) << 16) | (b(12) << 8)) + 9);
    if constexpr (Block && Strong) {
      // Text reads words, not columns.
      if (__builtin_popcount(printable & 0xFFFF) >= 15) {
        h[8] = hash_a(word + 0x1F8);
        h[9] = hash_a((word ^ (last_word * 0x9E3779B97F4A7C15)) + 0x1F9);
      }
    }
    h[10] = hash_a(((uint64_t{guess} << 16) | (b(1) << 8)) + 10);
    h[11] = hash_a(uint64_t{static_cast<uint32_t>(zflags << 8)} + 11);
    if constexpr (Block && Strong) {
      if (media.in(i)) return static_cast<int>(media_hashes(buf, i, media, h + 4));
    }
    return -1;
  };
  auto step = [&]<bool Enc>(auto& table, int64_t i) -> int64_t {
    zr = zero_flags_next(zr, buf[i - 1]);
    mix.miss = 0;
    if constexpr (Block && Strong) {
      media.advance(buf, i);
      const uint8_t c = buf[i - 1];
      printable = (printable << 1) | ((c >= 0x20 && c < 0x7F) || c == '\n' || c == '\t');
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
        word = (word + c + 1) * 0x2F0F3A7C1B6D5E41;
      } else if (word != 0) {
        last_word = word;
        word = 0;
      }
    }
    bp_predict(*bp, i);
    if (!strong.template code_flag<Strong, Enc>(k, *bp, buf[i], flag_threshold)) {
      uint64_t h[contexts];
      const int predicted = hashes(i, zr, bp->guess, h);
      mix.b1 = buf[i - 1];
      if constexpr (Strong) {
        strong.begin_nibbles(*bp);
        strong.fin.prev = buf[i - 1];
        if (predicted >= 0) {
          // A medium's samples: its prediction for the map.
          strong.fin.prev = static_cast<uint32_t>(predicted);
        } else if (strong.fin.mlen > 0) {
          // While a match is active it takes the zero pattern's context.
          h[11] = match_context(strong.fin.mexp, strong.fin.mlen, 11);
        }
      }
      if constexpr (Enc) {
        code_byte<contexts, Enc>(table, k, h, second, policy, buf[i]);
      } else {
        const int hi = likely.pick(buf, i, bp->guess);
        buf[i] = code_byte<contexts, Enc>(table, k, h, second, policy, 0, hi, early(i));
        likely.learn(buf, i, bp->guess);
      }
    }
    return strong.template byte_done<Strong>(*bp, i);
  };
  // Decoding fills in the block model's second nibble when its likely high
  // nibble has lately been right often enough (photographs, audio), and step
  // then loads those buckets early. On x86 code the early loads did not pay.
  const bool encoding = direction == compress_dir;
  auto ahead = predictor_lookahead(
      bp, buf, encoding, flag_threshold, [&](int64_t i, const byte_predictor& peek, uint64_t* h) {
        hashes(i, zero_flags_before(buf, i, 24), peek.guess, h);
        const int hi = encoding ? buf[i] >> 4 : early(i) ? likely.pick(buf, i, peek.guess) : -1;
        return ahead_contexts<contexts>(h, second, hi);
      });
  model_run<2 * contexts>(kind, buf, length, k, direction, options, setup, step, ahead);
  if constexpr (Strong) strong.close();
}

}  // namespace

void x86_model(uint8_t* buf, int32_t length, coder& k, int direction,
               const model_options& options) {
  if (options.strong) {
    code_stream<false, true>(buf, length, k, direction, options);
  } else {
    code_stream<false, false>(buf, length, k, direction, options);
  }
}

void block_model(uint8_t* buf, int32_t length, coder& k, int direction,
                 const model_options& options) {
  if (options.strong) {
    code_stream<true, true>(buf, length, k, direction, options);
  } else {
    code_stream<true, false>(buf, length, k, direction, options);
  }
}

}  // namespace vesk
