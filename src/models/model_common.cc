#include "models/model_common.h"

#include <cstring>

#include "coding/mixer.h"
#include "models/model.h"
#include "util/arena.h"

namespace vesk {

void frame_open(model_frame& f, table_shape shape, uint64_t selections, int weight_floats,
                float fresh_weight, uint8_t* buf, int64_t n, int direction) {
  f.table = table_open(shape, selections);
  f.weights = reinterpret_cast<float*>(arena_alloc(weight_floats * int64_t{sizeof(float)}));
  fill_weights(f.weights, weight_floats, fresh_weight);
  build_squash_table(f.sq);
  if (direction == decompress_dir && n > 0) std::memset(buf, 0, static_cast<size_t>(n));
}

void frame_close(model_frame& f, coder& k, int direction) {
  if (direction == compress_dir) coder_flush(k);
  arena_free(f.weights);
  table_close(f.table);
}

}  // namespace vesk
