#include "models/final_stage.h"

#include "util/arena.h"

namespace vesk {

namespace {

constexpr int64_t strong_floats =
    final_sets * final_inputs + match_buckets +
    int64_t{final_apm_contexts + flag_apm_contexts} * apm_points;
constexpr float fresh_hit = 0.75f;

}  // namespace

// The inner mixer's probability passes unchanged, the match inputs start
// with some trust.
void final_weights_fresh(float* w) {
  for (int s = 0; s < final_sets; s++) {
    float* set = w + final_inputs * s;
    set[0] = 1.0f;
    set[1] = 0.5f;
    set[2] = 0.0f;
    set[3] = 0.0f;
  }
}

void strong_open(strong_memory& s, int64_t elements, int max_log2) {
  s = strong_memory{};
  s.match_log2 = match_table_log2(elements, max_log2);
  s.match_table = reinterpret_cast<uint32_t*>(
      arena_alloc_zeroed((int64_t{1} << s.match_log2) * int64_t{sizeof(uint32_t)}));
  s.floats = reinterpret_cast<float*>(arena_alloc(strong_floats * int64_t{sizeof(float)}));
  s.weights = s.floats;
  s.hit = s.weights + final_sets * final_inputs;
  s.apm = s.hit + match_buckets;
  s.flag_apm = s.apm + int64_t{final_apm_contexts} * apm_points;
  final_weights_fresh(s.weights);
  for (int b = 0; b < match_buckets; b++) s.hit[b] = fresh_hit;
  apm_init(s.apm, final_apm_contexts);
  apm_init(s.flag_apm, flag_apm_contexts);
  build_squash_table(s.sq);
}

void strong_close(strong_memory& s) {
  arena_release(s.match_table, s.floats);
  s = strong_memory{};
}

}  // namespace vesk
