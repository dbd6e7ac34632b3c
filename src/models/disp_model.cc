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
constexpr uint64_t selections_per_byte = 2 * contexts;

struct disp_state {
  uint8_t* buf;
  int64_t length;
  int64_t pos = 0;
  uint32_t zr = zero_flags_start;
  uint64_t key[256];
  uint64_t second[16];
  byte_predictor bp;
  small_mixer mix;
};

template <bool Enc, class Table>
bool run(disp_state& st, Table& table, coder& k) {
  uint8_t* buf = st.buf;
  byte_predictor& bp = st.bp;
  const uint64_t* key = st.key;
  for (int64_t i = st.pos; i < st.length; i++) {
    bool done;
    if (!byte_step_ready<Enc>(table, k, selections_per_byte, i, st.pos, st.length, done))
      return done;
    auto b = [&](int m) { return uint32_t{buf[i - m]}; };
    st.zr = zero_flags_next(st.zr, buf[i - 1]);
    const uint32_t values[4] = {b(4) | b(3) << 8 | b(2) << 16 | b(1) << 24,
                                b(16) | b(32) << 8 | b(48) << 16 | b(64) << 24,
                                b(12) | b(24) << 8 | b(36) << 16 | b(48) << 24, st.zr & 0xFFFFFF};
    uint32_t vh[4];
    for (int j = 0; j < 4; j++) vh[j] = bp_value_hash(values[j]);
    bp_predict_hashes(bp, vh);
    if (code_guess_flag<Enc>(k, bp, buf[i], flag_threshold)) {
      bp_update(bp, i);
      continue;
    }
    const uint64_t kk = static_cast<uint64_t>(i & 3);
    const uint64_t f = st.zr & 0xFF;
    auto w = [&](int m) { return uint64_t{buf[i - m]}; };
    uint64_t h[contexts];
    orders_0_2_4(h, key, buf + i);
    h[3] = hash_a((uint64_t{bp.guess} << 24) | (kk << 16) | (w(4) << 8) | 3);
    h[4] = hash_a((kk << 24) | (f << 16) | (f << 8) | 4);
    h[5] = hash_a((kk << 24) | (w(4) << 16) | (w(1) << 8) | 5);
    h[6] = hash_a((kk << 24) | (w(8) << 16) | (w(4) << 8) | 6);
    h[7] = hash_a((kk << 32) | (w(12) << 24) | (w(8) << 16) | (w(4) << 8) | 7);

    const uint8_t v = code_byte<contexts, Enc>(table, k, h, st.second, st.mix, buf[i]);
    if constexpr (!Enc) buf[i] = v;
    bp_update(bp, i);
  }
  st.pos = st.length;
  return true;
}

}  // namespace

void disp_model(uint8_t* buf, int32_t length, coder& k, int direction) {
  const int64_t n = length > 0 ? length : 0;
  model_frame f;
  frame_open(f, table_2g, selections_per_byte * static_cast<uint64_t>(n), small_mixer::reset_floats,
             small_mixer::fresh_weight, buf, n, direction);
  disp_state st;
  st.buf = buf;
  st.length = n;
  draw_byte_keys(st.key);
  for (uint32_t v = 0; v < 16; v++) st.second[v] = hash_a(v);
  st.mix.weights = f.weights;
  st.mix.sq = &f.sq;
  bp_init(st.bp, buf, 4, bp_preset_values);
  with_table(f.table, direction, selections_per_byte,
             [&]<bool Enc>(auto& t) { return run<Enc>(st, t, k); });
  bp_free(st.bp);
  frame_close(f, k, direction);
}

}  // namespace vesk
