// The mixer of the displacement and record models: 16 inputs, six weight
// sets chosen by the bit's half of the byte and the longest order seen
// (contexts 3, then 2), no clamp on the probability.
#pragma once

#include "coding/arithmetic.h"
#include "coding/logistic.h"
#include "coding/mixer.h"

namespace vesk {

struct small_mixer {
  static constexpr int inputs = 16;
  static constexpr int sets = 6;
  static constexpr int reset_floats = 2048;
  static constexpr float fresh_weight = 0.0625f;
  static constexpr double rate = 0.005;

  float* weights;  // reset_floats floats, of which sets x inputs are used
  const squash_table* sq;
  float* set = nullptr;
  float p = 0;

  uint32_t predict(const float* x, uint32_t visited, int j) {
    int order = (visited & 0x04) ? 4 : (visited & 0x02) ? 2 : 0;
    set = weights + inputs * ((j >= 4) + order);
    float dot = mix_dot<inputs>(x, set);
    p = mix_squash(dot, *sq, weights, reset_floats, fresh_weight);
    return prob12(p);
  }

  void update(const float* x, int y) { mix_train<inputs>(x, set, mix_error(y, p, rate)); }
};

}  // namespace vesk
