// The displacement model: the branch transform's literal displacements,
// 32-bit values stored most significant byte first. Its contexts know the
// byte's place k in its value and look at the same byte of earlier values;
// its whole-byte guesser is the byte predictor with four orders keyed for
// 32-bit values (the previous value, the same byte of older values, the
// zero pattern); one 16-input mixer.

#include "coding/byte_predictor.h"
#include "coding/hashes.h"
#include "coding/nibble_coder.h"
#include "coding/nibble_table.h"
#include "models/model.h"
#include "models/model_common.h"
#include "models/small_mixer.h"

namespace vesk {

namespace {

constexpr int contexts = 8;
constexpr double flag_threshold = 0.6;

constexpr model_kind kind{
    table_2g, 2 * contexts,    small_mixer::reset_floats, small_mixer::fresh_weight,
    4,        bp_preset_values};

}  // namespace

void disp_model(uint8_t* buf, int32_t length, coder& k, int direction,
                const model_options& options) {
  uint64_t second[16];
  for (uint32_t v = 0; v < 16; v++) second[v] = hash_a(v);
  uint32_t zr = zero_flags_start;
  small_mixer mix;
  const uint64_t* key = nullptr;
  byte_predictor* bp = nullptr;
  auto setup = [&](model_frame& f) { bind_frame(f, mix, key, bp); };
  // The contexts of position i, given the zero flags of its last 8 bytes
  // and the guess there.
  auto hashes = [&](int64_t i, uint64_t f, uint8_t guess, uint64_t* h) {
    const uint64_t kk = static_cast<uint64_t>(i & 3);
    auto w = [&](int m) { return uint64_t{buf[i - m]}; };
    orders_0_2_4(h, key, buf + i);
    h[3] = hash_a((uint64_t{guess} << 24) | (kk << 16) | (w(4) << 8) | 3);
    h[4] = hash_a((kk << 24) | (f << 16) | (f << 8) | 4);
    h[5] = hash_a((kk << 24) | (w(4) << 16) | (w(1) << 8) | 5);
    h[6] = hash_a((kk << 24) | (w(8) << 16) | (w(4) << 8) | 6);
    h[7] = hash_a((kk << 32) | (w(12) << 24) | (w(8) << 16) | (w(4) << 8) | 7);
  };
  auto step = [&]<bool Enc>(auto& table, int64_t i) -> int64_t {
    zr = zero_flags_next(zr, buf[i - 1]);
    bp_predict_values(*bp, i, zr);
    if (!code_guess_flag<Enc>(k, *bp, buf[i], flag_threshold)) {
      uint64_t h[contexts];
      hashes(i, zr & 0xFF, bp->guess, h);
      const uint8_t v = code_byte<contexts, Enc>(table, k, h, second, mix, buf[i], bp->guess >> 4);
      if constexpr (!Enc) buf[i] = v;
    }
    bp_update(*bp, i);
    return i + 1;
  };
  // Ahead of time the predictor's guess is peeked at: a byte that the flag
  // will code loads nothing (decoding, which does not know the byte yet,
  // skips the loads of every confident guess). The zero flags of the 24
  // bytes before i are counted afresh.
  const bool encoding = direction == compress_dir;
  auto ahead = [&](int64_t i, uint64_t* h) -> int {
    const uint32_t z = zero_flags_before(buf, i, 24);
    const byte_predictor peek = bp_peek(*bp, i, z);
    if (flag_will_code(peek, flag_threshold, encoding, buf[i])) return 0;
    hashes(i, z & 0xFF, peek.guess, h);
    return ahead_contexts<contexts>(h, second, encoding ? buf[i] >> 4 : -1);
  };
  model_run<2 * contexts>(kind, buf, length, k, direction, options, setup, step, ahead);
}

}  // namespace vesk
