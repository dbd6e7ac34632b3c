// The logistic domain, base 2: a prediction is a stretch value
// x = log2(p / (1 - p)) and squash(x) = 1 / (1 + 2^-x) turns it back into a
// probability. Both use bit-level approximations on single-precision floats;
// every step is rounded to single precision, so results are the same on
// every x86-64 machine.
#pragma once

#include <bit>
#include <cstdint>

#include "coding/arithmetic.h"

namespace vesk {

// 2^y: y x 2^23 truncated, plus 127 x 2^23 - 298765, read as a float.
inline float fast_exp2(float y) {
  return std::bit_cast<float>(trunc_to_i32(y * 8388608.0f) + 1065054451);
}

constexpr float squash_low = 3.0302112e-05f;  // float nearest 1/33001
constexpr float squash_high = 0.99996972f;    // float nearest 1/1.0000303

inline float squash(float x) {
  if (x < -15.0f) return squash_low;
  if (x > 15.0f) return squash_high;
  float e = std::bit_cast<float>(trunc_to_i32(x * -8388608.0f) + 1065054451);
  return 1.0f / (e + 1.0f);
}

// log2(p / (1 - p)) within about 0.09: the float's bit pattern as an integer.
inline float stretch(float p) {
  float q = p / (1.0f - p);
  return static_cast<float>(std::bit_cast<int32_t>(q)) * 1.1920929e-07f + -126.942696f;
}

// squash at steps of 1/15 over -136.5 .. 136.5: entry i = squash((i - 2048) / 15).
constexpr int squash_table_size = 4096;
constexpr int squash_table_zero = 2048;

struct squash_table {
  float v[squash_table_size];
};

void build_squash_table(squash_table& t);

// Stretch value to table index t = trunc(x x 15); valid when
// lo <= t <= hi (the models' ranges are -1948..1951 or -1948..1952).
inline int32_t squash_index(float x) {
  return trunc_to_i32(x * 15.0f);
}

}  // namespace vesk
