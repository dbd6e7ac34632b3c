#include "models/final_stage.h"

#include "util/arena.h"

namespace vesk {

namespace {

constexpr int64_t strong_floats =
    2 * match_buckets +
    int64_t{final_apm_contexts + plain_apm_contexts + flag_apm_contexts} * apm_points;
constexpr float fresh_hit = 0.75f;

}  // namespace

void strong_open(strong_memory& s, int64_t elements, int max_log2, bool order1_map) {
  s = strong_memory{};
  s.match_log2 = match_table_log2(elements, max_log2);
  s.match_table = reinterpret_cast<uint32_t*>(
      arena_alloc_zeroed((int64_t{1} << s.match_log2) * int64_t{sizeof(uint32_t)}));
  s.floats = reinterpret_cast<float*>(arena_alloc(strong_floats * int64_t{sizeof(float)}));
  s.hit = s.floats;
  s.hit2 = s.hit + match_buckets;
  s.apm = s.hit2 + match_buckets;
  s.plain_apm = s.apm + int64_t{final_apm_contexts} * apm_points;
  s.flag_apm = s.plain_apm + int64_t{plain_apm_contexts} * apm_points;
  for (int b = 0; b < match_buckets; b++) s.hit[b] = s.hit2[b] = fresh_hit;
  apm_init(s.apm, final_apm_contexts);
  apm_init(s.plain_apm, plain_apm_contexts);
  apm_init(s.flag_apm, flag_apm_contexts);
  if (order1_map && elements >= order1_apm_min_elements) {
    s.order1_apm = reinterpret_cast<float*>(
        arena_alloc(int64_t{order1_apm_contexts} * apm_points * int64_t{sizeof(float)}));
    apm_init(s.order1_apm, order1_apm_contexts);
  }
}

void strong_close(strong_memory& s) {
  if (s.order1_apm != nullptr) {
    arena_release(s.match_table, s.floats, s.order1_apm);
  } else {
    arena_release(s.match_table, s.floats);
  }
  s = strong_memory{};
}

}  // namespace vesk
