// The containers: each turns one whole input held in memory into one
// archive of its method, or an archive back into the input. The driver
// (one file per run) and the framed archive (one slice of the input per
// frame) both call them. Below the calls, what the containers share.
#pragma once

#include <cstdint>
#include <functional>

#include "coding/arithmetic.h"
#include "driver/limits.h"
#include "driver/trailer.h"

namespace vesk {

// A container's input: its size and a function that copies all of it into
// a buffer the container allocated (so a file is read straight into place).
struct pack_input {
  const char* name;  // names the input in messages
  int64_t size;
  std::function<void(uint8_t* dst)> read;
};

// Receives a finished archive, or a restored file, all of it at once. It is
// called once, after every check has passed.
using pack_output = std::function<void(const uint8_t* data, int64_t n)>;

struct pack_settings {
  // The streams of one input may be coded two at a time; frames coded side
  // by side turn it off, so that a run never uses more threads than asked.
  bool parallel_streams = true;
  // The strong models (method words 4 and 5) when packing; unpacking
  // follows the archive's method word.
  bool strong = false;
};

// The stored method with its check (method word 6): a 12-byte header (the
// method word and the length) and the 12-byte checksum trailer around the
// input.
constexpr int64_t stored_checked_header = 12;
constexpr int64_t stored_checked_overhead = stored_checked_header + trailer_bytes;

// Whether an archive of `packed` bytes of an n-byte input, whose method its
// content chose, is better stored: larger than the stored archive.
constexpr bool stored_is_smaller(int64_t packed, int64_t n) {
  return packed > n + stored_checked_overhead;
}

void stored_pack(const pack_input& in, const pack_output& out);
void stored_checked_pack(const pack_input& in, const pack_output& out);
// The same archive a piece at a time, for an input of n bytes: read fills
// its buffer with the input's next bytes, write takes the archive's next.
void stored_checked_stream(int64_t n, const std::function<void(uint8_t*, int64_t)>& read,
                           const std::function<void(const uint8_t*, int64_t)>& write);
void text_pack(const pack_input& in, const pack_output& out, const pack_settings& s);
void mixed_pack(const pack_input& in, const pack_output& out, const pack_settings& s);

// Decoders take the whole archive (m bytes, its method word first) and
// refuse a damaged one with a message naming it.
void stored_unpack(const char* name, const uint8_t* packed, int64_t m, const pack_output& out);
void stored_checked_unpack(const char* name, const uint8_t* packed, int64_t m,
                           const pack_output& out);
// The same a piece at a time, for an archive of m bytes whose method word
// has been read: read returns as many of the bytes asked for as the
// archive still holds; write (empty: a test) takes the restored bytes,
// which are only sound once the call returns.
void stored_checked_restore(const char* name, int64_t m, const uint8_t* word,
                            const std::function<int64_t(uint8_t*, int64_t)>& read,
                            const std::function<void(const uint8_t*, int64_t)>& write);
void text_unpack(const char* name, const uint8_t* packed, int64_t m, const pack_output& out,
                 const pack_settings& s);
void mixed_unpack(const char* name, const uint8_t* packed, int64_t m, const pack_output& out,
                  const pack_settings& s);

// --- What the containers share ----------------------------------------------

// Whether an input of n bytes fits one container: a larger one is refused
// when packing, and a header that claims one is damage.
constexpr bool input_fits(int64_t n) {
  return n >= 0 && n < input_limit;
}

// Stops with the message for an input too large to pack.
void check_packable(const pack_input& in);

// The input read into an arena block behind `history` zero bytes and
// before `tail` zero bytes, and the hash its checksum trailer carries.
struct read_input {
  uint8_t* block;  // to release with arena_free
  uint8_t* data;   // block + history
  uint64_t hash;
};
read_input read_whole(const pack_input& in, int64_t history, int64_t tail);

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

// Refuses a damaged compressed file: a failure of kind damaged, "<in> is
// damaged (<why>)". The caller says what became of the output.
[[noreturn]] void refuse_damaged(const char* in, const char* why);

}  // namespace vesk
