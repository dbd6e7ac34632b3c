// The record model: fixed-stride record data. The mismatch stream (coded
// before it) says which bytes differ from the byte one period back; only
// those are coded, the others are copies. The coded bytes see the whole
// stream as history: the nearest bytes, the zero pattern, the same column
// one, two and three periods back, and columns at strides 12 and 8.

#include "coding/hashes.h"
#include "coding/nibble_coder.h"
#include "coding/nibble_table.h"
#include "models/model.h"
#include "models/model_common.h"
#include "models/small_mixer.h"

namespace vesk {

namespace {

constexpr int contexts = 8;
constexpr uint64_t selections_per_byte = 2 * contexts;

struct record_state {
  uint8_t* buf;
  int64_t length;
  const uint8_t* mismatch;
  const uint8_t* period;
  int64_t pos = 0;
  uint32_t zr = zero_flags_start;
  uint64_t key[256];
  uint64_t second[16];
  small_mixer mix;
};

template <bool Enc, class Table>
bool run(record_state& st, Table& table, coder& k) {
  uint8_t* buf = st.buf;
  const uint64_t* key = st.key;
  for (int64_t i = st.pos; i < st.length; i++) {
    bool done;
    if (!byte_step_ready<Enc>(table, k, selections_per_byte, i, st.pos, st.length, done))
      return done;
    st.zr = zero_flags_next(st.zr, buf[i - 1]);
    const int64_t l = st.period[i >> 6];
    if (((st.mismatch[i >> 3] >> (i & 7)) & 1) == 0) {
      if constexpr (!Enc) buf[i] = buf[i - l];
      continue;
    }
    auto w = [&](int64_t m) { return uint64_t{buf[i - m]}; };
    uint64_t h[contexts];
    orders_0_2_4(h, key, buf + i);
    h[3] = hash_a((w(4) << 16) | (w(1) << 8) | 3);
    h[4] = hash_a((uint64_t{st.zr & 0xFFFF} << 8) | 4);
    h[5] = hash_a((w(3 * l) << 24) | (w(2 * l) << 16) | (w(l) << 8) | 5);
    h[6] = hash_a((w(36) << 24) | (w(24) << 16) | (w(12) << 8) | 6);
    h[7] = hash_a((w(24) << 24) | (w(16) << 16) | (w(8) << 8) | 7);

    const uint8_t v = code_byte<contexts, Enc>(table, k, h, st.second, st.mix, buf[i]);
    if constexpr (!Enc) buf[i] = v;
  }
  st.pos = st.length;
  return true;
}

}  // namespace

void record_model(uint8_t* buf, int32_t length, coder& k, int direction, const uint8_t* mismatch,
                  const uint8_t* period) {
  const int64_t n = length > 0 ? length : 0;
  model_frame f;
  frame_open(f, table_2g, selections_per_byte * static_cast<uint64_t>(n), small_mixer::reset_floats,
             small_mixer::fresh_weight, buf, n, direction);
  record_state st;
  st.buf = buf;
  st.length = n;
  st.mismatch = mismatch;
  st.period = period;
  draw_byte_keys(st.key);
  for (uint32_t v = 0; v < 16; v++) st.second[v] = hash_a(v);
  st.mix.weights = f.weights;
  st.mix.sq = &f.sq;
  with_table(f.table, direction, selections_per_byte,
             [&]<bool Enc>(auto& t) { return run<Enc>(st, t, k); });
  frame_close(f, k, direction);
}

}  // namespace vesk
