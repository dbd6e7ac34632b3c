// Adaptive probability map: refines a probability under a small context.
// Each context owns apm_points probabilities at evenly spaced points of the
// stretch domain (base 2) from -apm_reach to +apm_reach, starting as the
// identity (point i holds squash of its own stretch value). A prediction
// interpolates linearly between the two points around its stretch value
// (the caller's: a mixer's output before its squash); the update moves both
// toward the coded bit, each by its share of the interpolation.
// Every operation is single precision in the order written, so encoder and
// decoder agree bit for bit.
#pragma once

#include <cstdint>

#include "coding/arithmetic.h"
#include "coding/logistic.h"

namespace vesk {

constexpr int apm_reach = 12;  // 4095/4096, the coder's most confident probability, is stretch 12
constexpr int apm_points = 2 * apm_reach + 1;

// Fills the tables of `contexts` contexts with the identity.
inline void apm_init(float* t, int64_t contexts) {
  float row[apm_points];
  for (int i = 0; i < apm_points; i++) row[i] = squash(static_cast<float>(i - apm_reach));
  for (int64_t c = 0; c < contexts; c++)
    for (int i = 0; i < apm_points; i++) t[c * apm_points + i] = row[i];
}

// The two points a prediction read and the weight of the upper one.
struct apm_pick {
  float* e = nullptr;
  float f = 0;
};

// The refined probability of context ctx for the stretch value s.
inline float apm_refine(float* t, uint32_t ctx, float s, apm_pick& pk) {
  float u = s + static_cast<float>(apm_reach);
  // Outside the reach (and for NaN) the end points hold.
  if (!(u > 0.0f)) u = 0.0f;
  if (u > 2.0f * apm_reach - 0.001f) u = 2.0f * apm_reach - 0.001f;
  const int32_t lo = trunc_to_i32(u);
  pk.f = u - static_cast<float>(lo);
  pk.e = t + int64_t{ctx} * apm_points + lo;
  return pk.e[0] * (1.0f - pk.f) + pk.e[1] * pk.f;
}

// An entry moves toward the bit's side but stops 2^-16 short of 0 or 1:
// probabilities that decay toward 0 would reach subnormal floats, whose
// arithmetic is many times slower, and the coder's 12-bit probability
// cannot use them anyway.
constexpr float apm_floor = 1.0f / 65536;

inline float apm_target(int y) {
  return y ? 1.0f - apm_floor : apm_floor;
}

inline void apm_update(const apm_pick& pk, int y, float rate) {
  const float target = apm_target(y);
  pk.e[0] += (target - pk.e[0]) * (rate * (1.0f - pk.f));
  pk.e[1] += (target - pk.e[1]) * (rate * pk.f);
}

}  // namespace vesk
