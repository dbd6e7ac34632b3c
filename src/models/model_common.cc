#include "models/model_common.h"

#include <cstring>

#include "coding/mixer.h"
#include "models/model.h"
#include "util/arena.h"

namespace vesk {

void frame_open(model_frame& f, const model_kind& m, uint8_t* buf, int64_t n, int direction,
                const model_options& options) {
  // The small blocks first: they then share their pages with what the
  // caller allocated before, and the table's block comes last.
  f.weights = reinterpret_cast<float*>(arena_alloc(m.weight_floats * int64_t{sizeof(float)}));
  fill_weights(f.weights, m.weight_floats, m.fresh_weight);
  build_squash_table(f.sq);
  if (m.bp_orders > 0) bp_init(f.bp, buf, m.bp_orders, m.bp_preset, options.rows);
  f.table = table_open(m.shape, m.selections_per_byte * static_cast<uint64_t>(n), options.table);
  if (m.byte_keys) std::memcpy(f.key, byte_keys.data(), sizeof f.key);
  if (direction == decompress_dir && n > 0) std::memset(buf, 0, static_cast<size_t>(n));
}

void frame_close(model_frame& f, const model_kind& m, coder& k, int direction) {
  if (direction == compress_dir) coder_flush(k);
  table_close(f.table);
  if (m.bp_orders > 0) bp_free(f.bp);
  arena_free(f.weights);
}

}  // namespace vesk
