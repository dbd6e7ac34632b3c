// The general byte model: a byte predictor guess with a flag bit when it is
// confident, otherwise two nibbles whose bits are predicted by eight hashed
// contexts (orders 0 to 6 and one built from the guess) mixed by one
// 16-input mixer.

#include "coding/byte_predictor.h"
#include "coding/hashes.h"
#include "coding/logistic.h"
#include "coding/mixer.h"
#include "coding/nibble_coder.h"
#include "coding/nibble_table.h"
#include "models/final_stage.h"
#include "models/model.h"
#include "models/model_common.h"

namespace vesk {

namespace {

constexpr int contexts = 8;
constexpr int inputs = 2 * contexts;
constexpr int weight_sets = 512;  // bit (8) x highest visited order (8) x misses (8)
constexpr int reset_floats = 2048;
constexpr float fresh_weight = 0.0625f;
constexpr double learning_rate = 0.001;
constexpr double flag_threshold = 0.7;

// N inputs: the contexts', and in the strong models the match model's.
template <int N>
struct byte_mixer {
  static constexpr int context_inputs = inputs;
  static constexpr int weight_floats =
      N == inputs ? weight_sets * inputs : match_groups * weight_sets * N;
  static constexpr int reset = N == inputs ? reset_floats : weight_floats;
  float* weights;
  const squash_table* sq;
  uint32_t group = 0;    // the match's group of weight sets (strong models)
  float* set = nullptr;  // the chosen weight set of this bit
  float dot = 0;         // the mixer's output, stretch domain (base 2)
  float p = 0;           // table probability, trained on
  float c2n = 0;         // clamped probability, coded with
  int misses = 0;        // bits of this byte coded on the wrong side of 1/2

  // Sets p, dot and c2n; predict also returns the coded value.
  void mix(const float* x, uint32_t visited, int j) {
    uint32_t higher = visited & 0xFE;
    int s = higher ? 31 - __builtin_clz(higher) : 0;
    set = weights + N * (static_cast<uint32_t>(j + 8 * s + 64 * misses) + weight_sets * group);
    dot = mix_dot<N>(x, set);
    p = mix_squash(dot, *sq, weights, reset, fresh_weight);
    c2n = clamp_c2n(p);
  }
  uint32_t predict(const float* x, uint32_t visited, int j) {
    mix(x, visited, j);
    return clamped_prob12(c2n);
  }

  void update(const float* x, int y) {
    mix_train<N>(x, set, mix_error(y, p, learning_rate));
    if ((y == 1 && c2n < 0.5f) || (y == 0 && c2n > 0.5f)) misses++;
  }
};

template <int N>
constexpr model_kind kind{table_2g, 2 * contexts,   byte_mixer<N>::weight_floats, fresh_weight,
                          3,        bp_preset_bytes};

constexpr int match_minlen = 5;
constexpr int match_max_log2 = 22;

template <bool Strong>
void code_bytes(uint8_t* buf, int32_t length, coder& k, int direction,
                const model_options& options) {
  uint64_t second[16];  // second-nibble hash of each high nibble
  for (uint32_t v = 0; v < 16; v++) second[v] = nibble_hash(v);
  constexpr int n_inputs = Strong ? inputs + match_inputs : inputs;
  using mixer = byte_mixer<n_inputs>;
  mixer mix;
  byte_stage<mixer> strong;
  if constexpr (Strong) strong.open(&mix, buf, length, match_max_log2, match_minlen);
  auto& policy = nibble_policy<Strong>(strong.fin, mix);
  const uint64_t* key = nullptr;
  byte_predictor* bp = nullptr;
  auto setup = [&](model_frame& f) { bind_frame(f, mix, key, bp); };
  // The contexts of position i, given the guess there.
  auto hashes = [&](int64_t i, uint8_t guess, uint64_t* h) {
    h[0] = order0_hash;
    h[1] = key[buf[i - 1]] ^ order1_mix;
    for (int j = 2; j <= 6; j++) h[j] = order_next(h[j - 1], key, buf[i - j]);
    h[7] = hash_a((uint64_t{guess} << 16) | (uint64_t{buf[i - 1]} << 8) | 7);
  };
  auto step = [&]<bool Enc>(auto& table, int64_t i) -> int64_t {
    bp_predict(*bp, i);
    if (!strong.template code_flag<Strong, Enc>(k, *bp, buf[i], flag_threshold)) {
      mix.misses = 0;
      uint64_t h[contexts];
      hashes(i, bp->guess, h);
      if constexpr (Strong) {
        strong.begin_nibbles(*bp);
        strong.fin.prev = buf[i - 1];
        // While a match is active it takes the guess's context.
        if (strong.fin.mlen > 0) h[7] = match_context(strong.fin.mexp, strong.fin.mlen, 7);
      }
      const uint8_t v =
          code_byte<contexts, Enc>(table, k, h, second, policy, buf[i], bp->guess >> 4);
      if constexpr (!Enc) buf[i] = v;
    }
    return strong.template byte_done<Strong>(*bp, i);
  };
  const bool encoding = direction == compress_dir;
  auto ahead = predictor_lookahead(
      bp, buf, encoding, flag_threshold, [&](int64_t i, const byte_predictor& peek, uint64_t* h) {
        hashes(i, peek.guess, h);
        return ahead_contexts<contexts>(h, second, encoding ? buf[i] >> 4 : -1);
      });
  model_run<2 * contexts>(kind<n_inputs>, buf, length, k, direction, options, setup, step, ahead);
  if constexpr (Strong) strong.close();
}

}  // namespace

void byte_model(uint8_t* buf, int32_t length, coder& k, int direction,
                const model_options& options) {
  if (options.strong) {
    code_bytes<true>(buf, length, k, direction, options);
  } else {
    code_bytes<false>(buf, length, k, direction, options);
  }
}

}  // namespace vesk
