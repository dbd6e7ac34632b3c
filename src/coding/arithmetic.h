// Binary arithmetic coder over a 32-bit range with 16-bit output words.
//
// Per coded bit the model hands a 12-bit probability c (1..4095) that the
// bit is 1; a 1 takes the lower part [x1, xmid] of the range. When the top 16
// bits of x1 and x2 agree, one word moves (out when encoding, in when
// decoding): at most one word per bit. Words are stored little-endian.
//
// Both directions are bounded: the encoder never writes past `end` (words
// that do not fit are counted in `overrun`, and the caller refuses the
// stream), the decoder never reads past `end` (it feeds zero words instead
// and counts them), so no input can make the per-bit path touch memory it
// was not given.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "util/fail.h"

namespace vesk {

// Which way a stream is coded. Encoder and decoder share every model's code
// path and branch on it only where a bit is coded or read back.
enum coding_direction : int { decompress_dir = 0, compress_dir = 1 };

struct coder {
  uint32_t x1 = 0;           // low end of the range, inclusive
  uint32_t x2 = 0xFFFFFFFF;  // high end of the range, inclusive
  uint32_t x = 0;            // decoding: the code value read so far
  uint8_t* start = nullptr;
  uint8_t* cursor = nullptr;  // next word to write or read
  uint8_t* end = nullptr;     // one past the last byte that may be touched
  uint64_t overrun = 0;       // words that fell outside [start, end)
};

void coder_init_encode(coder& k, uint8_t* buf, size_t capacity);
// Decoding only reads the data.
void coder_init_decode(coder& k, const uint8_t* data, size_t length);
void coder_flush(coder& k);

// Bytes written (encoder) or consumed (decoder) so far.
inline size_t coder_length(const coder& k) {
  return static_cast<size_t>(k.cursor - k.start);
}

// Float to int32 truncating toward zero the way the hardware does it:
// NaN and out-of-range values give INT32_MIN instead of undefined behaviour.
inline int32_t trunc_to_i32(float v) {
  return _mm_cvttss_si32(_mm_set_ss(v));
}

// 12-bit probability of a 1 from a float probability: truncate p x 4096;
// 0 becomes 1 and 4096 becomes 4095; anything else out of range stops.
inline uint32_t prob12(float p) {
  int32_t c = trunc_to_i32(p * 4096.0f);
  if (c == 0) c = 1;
  if (c == 4096) c = 4095;
  check(c > 0 && c < 4096, "c>0 && c<4096");
  return static_cast<uint32_t>(c);
}

// Codes one bit with probability c of a 1. Encoding takes the bit from y and
// returns it; decoding ignores y and returns the decoded bit.
template <bool Enc>
inline int code_bit(coder& k, int y, uint32_t c) {
  uint32_t xmid = k.x1 + static_cast<uint32_t>((uint64_t{k.x2 - k.x1} * c) >> 12);
  if constexpr (!Enc) y = k.x <= xmid;
  if (y) {
    k.x2 = xmid;
  } else {
    k.x1 = xmid + 1;
  }
  if ((k.x1 ^ k.x2) <= 0xFFFF) {
    if constexpr (Enc) {
      if (k.cursor + 2 <= k.end) [[likely]] {
        k.cursor[0] = static_cast<uint8_t>(k.x1 >> 16);
        k.cursor[1] = static_cast<uint8_t>(k.x1 >> 24);
        k.cursor += 2;
      } else {
        k.overrun++;
      }
    } else {
      uint32_t w = 0;
      if (k.cursor + 2 <= k.end) [[likely]] {
        w = uint32_t{k.cursor[0]} | uint32_t{k.cursor[1]} << 8;
        k.cursor += 2;
      } else {
        k.overrun++;
      }
      k.x = (k.x << 16) | w;
    }
    k.x1 <<= 16;
    k.x2 = (k.x2 << 16) | 0xFFFF;
  }
  return y;
}

}  // namespace vesk
