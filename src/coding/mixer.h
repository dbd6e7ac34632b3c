// The mixer: a weighted sum of a model's stretch inputs for one bit, with
// the weight set chosen by a small selector, then trained online by gradient
// descent on coding cost.
//
// The dot product has one fixed order of single-precision operations, which
// is part of the format: lane sums over groups of eight
// (s_j = x_j w_j + x_{8+j} w_{8+j} [+ x_{16+j} w_{16+j}]), then
// t_j = s_j + s_{j+4}, u0 = t0 + t2, u1 = t1 + t3, dot = u0 + u1.
// SSE computes exactly that order: lanes 0-3 and 4-7 in two registers, no
// fused multiply-add (baseline x86-64 has none). The strong models' mixers
// of 32 inputs add x_{24+j} w_{24+j} as the fourth term of each lane sum.
#pragma once

#include <xmmintrin.h>

#include <cstdint>

#include "coding/arithmetic.h"
#include "coding/logistic.h"

namespace vesk {

template <int N>
inline float mix_dot(const float* x, const float* w) {
  static_assert(N == 16 || N == 24 || N == 32);
  __m128 lo = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(x), _mm_loadu_ps(w)),
                         _mm_mul_ps(_mm_loadu_ps(x + 8), _mm_loadu_ps(w + 8)));
  __m128 hi = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(x + 4), _mm_loadu_ps(w + 4)),
                         _mm_mul_ps(_mm_loadu_ps(x + 12), _mm_loadu_ps(w + 12)));
  if constexpr (N >= 24) {
    lo = _mm_add_ps(lo, _mm_mul_ps(_mm_loadu_ps(x + 16), _mm_loadu_ps(w + 16)));
    hi = _mm_add_ps(hi, _mm_mul_ps(_mm_loadu_ps(x + 20), _mm_loadu_ps(w + 20)));
  }
  if constexpr (N == 32) {
    lo = _mm_add_ps(lo, _mm_mul_ps(_mm_loadu_ps(x + 24), _mm_loadu_ps(w + 24)));
    hi = _mm_add_ps(hi, _mm_mul_ps(_mm_loadu_ps(x + 28), _mm_loadu_ps(w + 28)));
  }
  __m128 t = _mm_add_ps(lo, hi);                  // t0..t3
  __m128 u = _mm_add_ps(t, _mm_movehl_ps(t, t));  // u0 = t0 + t2, u1 = t1 + t3
  __m128 d = _mm_add_ss(u, _mm_shuffle_ps(u, u, 1));
  return _mm_cvtss_f32(d);
}

// w_k = w_k + x_k x err, each product and sum rounded to single precision.
template <int N>
inline void mix_train(const float* x, float* w, float err) {
  __m128 e = _mm_set1_ps(err);
  for (int k = 0; k < N; k += 4)
    _mm_storeu_ps(w + k, _mm_add_ps(_mm_loadu_ps(w + k), _mm_mul_ps(_mm_loadu_ps(x + k), e)));
}

// The training error of one bit: (y - p) in single precision, times the
// learning rate in double precision, rounded to single precision.
inline float mix_error(int y, float p, double rate) {
  float d = static_cast<float>(y) - p;
  return static_cast<float>(static_cast<double>(d) * rate);
}

// Fills n floats of a weight block with v.
inline void fill_weights(float* w, int n, float v) {
  for (int i = 0; i < n; i++) w[i] = v;
}

// The squash table's valid index range for a dot product: t = trunc(dot x 15)
// must lie in lo..hi, else the weights have diverged.
constexpr int32_t mix_t_low = -1948;
constexpr int32_t mix_t_high = 1951;

inline bool mix_t_valid(int32_t t, int32_t high = mix_t_high) {
  return static_cast<uint32_t>(t - mix_t_low) <= static_cast<uint32_t>(high - mix_t_low);
}

// A mixer's probability for its dot product, from the squash table. A dot
// product outside the table's valid range means the weights have diverged:
// the first `reset` floats of the weight block start afresh at `fresh`, and
// the dot product becomes 0 and the probability the table's middle entry.
inline float mix_squash(float& dot, const squash_table& sq, float* weights, int reset,
                        float fresh) {
  int32_t t = squash_index(dot);
  if (!mix_t_valid(t)) {
    fill_weights(weights, reset, fresh);
    dot = 0;
    t = 0;
  }
  return sq.v[t + squash_table_zero];
}

// Clamp of the final probability in the models that use it.
constexpr float c2n_low = 9.99999997e-07f;  // float nearest 0.000001
constexpr float c2n_high = 0.99999899f;     // float nearest 0.999999

inline float clamp_c2n(float p) {
  float c = p;
  if (static_cast<double>(c) < 0.000001) c = c2n_low;
  if (static_cast<double>(c) > 0.999999) c = c2n_high;
  return c;
}

// The coded probability of a clamped one.
inline uint32_t clamped_prob12(float c2n) {
  check(c2n > 0 && c2n < 1, "c2n>0 && c2n<1");
  return prob12(c2n);
}

}  // namespace vesk
