// What the text and mixed containers share.
#pragma once

#include <cstdint>

#include "coding/arithmetic.h"

namespace vesk {

// Room for the coded form of an L-byte stream. A model codes incompressible
// data at a few parts per thousand over its size (the predictor's flag and
// the coder's flush at most); an eighth more plus a margin is never reached
// in practice, and the coder stops at the end of its buffer, so a stream
// that did not fit is refused with a message rather than written past. The
// bound stays small because every container's buffers share the arena with
// an 8 GiB table.
constexpr int64_t coded_capacity(int64_t l) {
  return l + l / 8 + 65536;
}

// The most bits a coded stream of `coded` bytes can hold. Every coded bit
// narrows the coder's range r = x2 - x1 to at most r - ceil(r / 4096), and
// a 16-bit word moves at the latest when r reaches 0: from r < 2^32 that
// takes at most 59,140 bits (tests/driver recounts it). The decoder reads
// two words at set-up and one per move, so a stream of K bytes holds at
// most 59,140 x (K/2 - 1) bits. Every model but the record model codes at
// least one bit per byte, which bounds a stream's declared length by its
// coded length before anything is allocated for it.
constexpr int64_t most_bits_per_coded_word = 59'140;
constexpr int64_t most_coded_bits(int64_t coded) {
  return most_bits_per_coded_word * (coded / 2);
}

// A decoded stream used its coded bytes exactly: every word, not one more,
// and the last two are the encoder's flush (the middle of the final range),
// so no byte of a coded stream can change without notice.
bool decoded_exactly(const coder& k, int64_t coded);

// Refuses a damaged compressed file: one message, status 1, no output.
[[noreturn]] void refuse_damaged(const char* in, const char* why);

// What a refusal says of the output: "nothing was written" until a
// framed archive restored to a pipe has passed frames on; nothing when
// archives are only tested.
void damage_note_output_started();
void damage_note_testing();

}  // namespace vesk
