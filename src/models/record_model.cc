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

constexpr model_kind kind{table_2g, 2 * contexts, small_mixer::reset_floats,
                          small_mixer::fresh_weight};

}  // namespace

void record_model(uint8_t* buf, int32_t length, coder& k, int direction, const uint8_t* mismatch,
                  const uint8_t* period, const model_options& options) {
  uint64_t second[16];
  for (uint32_t v = 0; v < 16; v++) second[v] = hash_a(v);
  uint32_t zr = zero_flags_start;
  small_mixer mix;
  const uint64_t* key = nullptr;
  auto setup = [&](model_frame& f) { bind_frame(f, mix, key); };
  // The contexts of position i, given the zero flags of its last 16 bytes
  // and its period l.
  auto hashes = [&](int64_t i, uint32_t zflags, int64_t l, uint64_t* h) {
    auto w = [&](int64_t m) { return uint64_t{buf[i - m]}; };
    orders_0_2_4(h, key, buf + i);
    h[3] = hash_a((w(4) << 16) | (w(1) << 8) | 3);
    h[4] = hash_a((uint64_t{zflags} << 8) | 4);
    h[5] = hash_a((w(3 * l) << 24) | (w(2 * l) << 16) | (w(l) << 8) | 5);
    h[6] = hash_a((w(36) << 24) | (w(24) << 16) | (w(12) << 8) | 6);
    h[7] = hash_a((w(24) << 24) | (w(16) << 16) | (w(8) << 8) | 7);
  };
  auto step = [&]<bool Enc>(auto& table, int64_t i) -> int64_t {
    zr = zero_flags_next(zr, buf[i - 1]);
    const int64_t l = period[i >> 6];
    if (((mismatch[i >> 3] >> (i & 7)) & 1) == 0) {
      if constexpr (!Enc) buf[i] = buf[i - l];
      return i + 1;
    }
    uint64_t h[contexts];
    hashes(i, zr & 0xFFFF, l, h);
    // The byte a period back likely shares this one's high nibble.
    const uint8_t v = code_byte<contexts, Enc>(table, k, h, second, mix, buf[i], buf[i - l] >> 4);
    if constexpr (!Enc) buf[i] = v;
    return i + 1;
  };
  const bool encoding = direction == compress_dir;
  auto ahead = [&](int64_t i, uint64_t* h) -> int {
    if (((mismatch[i >> 3] >> (i & 7)) & 1) == 0) return 0;
    hashes(i, zero_flags_before(buf, i, 16), period[i >> 6], h);
    return ahead_contexts<contexts>(h, second, encoding ? buf[i] >> 4 : -1);
  };
  model_run<2 * contexts>(kind, buf, length, k, direction, options, setup, step, ahead);
}

}  // namespace vesk
