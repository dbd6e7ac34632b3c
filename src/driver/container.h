// What the text and mixed containers share.
#pragma once

#include <cstdint>

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

// Refuses a damaged compressed file: one message, status 1, no output.
[[noreturn]] void refuse_damaged(const char* in, const char* why);

}  // namespace vesk
